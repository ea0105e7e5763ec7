#include "core/parse_actions.hpp"

#include <utility>

#include "core/run.hpp"

namespace filarix {

void ask_action(Run& run, ParseAction action) {
    run.parse_actions.list.push_back(std::move(action));
    if (run.parse_actions.perform) run.parse_actions.perform(run);
}

}  // namespace filarix
