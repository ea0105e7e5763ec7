#include "core/run.hpp"

namespace filarix {

Run::Run(platform::System& system) : RunStreams(system), sys(system), syntax(system.syntax()) {}

OutStream* Run::memo_stream() const {
    if (memo_file) return memo_file.get();
    return s.MEMO ? log.get() : nullptr;
}

}  // namespace filarix
