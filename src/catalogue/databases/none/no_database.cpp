// The backend of a build without SQLite (the Windows exe): --DB is
// refused before anything is listed, and no database is read.
#include "catalogue/database_backend.hpp"

namespace filarix {

std::string file_database_unsupported() {
    return "This build has no database support";
}

std::unique_ptr<CatalogueSink> open_file_database(const std::string&, const RunFacts&,
                                                  std::string& error) {
    error = "This build has no database support";
    return nullptr;
}

bool read_file_database(const std::string&, const EarlierRun&,
                        const std::function<void(EarlierEntry&&)>&, std::string& error) {
    error = "this build has no database support";
    return false;
}

}  // namespace filarix
