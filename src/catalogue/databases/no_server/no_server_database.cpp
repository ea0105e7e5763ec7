// The server backend of a build without libpq: a PostgreSQL URL or
// connection string is refused before anything is listed.
#include "catalogue/database_backend.hpp"

namespace filarix {

std::string server_database_unsupported() {
    return "PostgreSQL is not supported by this build";
}

std::unique_ptr<CatalogueSink> open_server_database(const std::string&, const RunFacts&,
                                                    std::string& error) {
    error = server_database_unsupported();
    return nullptr;
}

}  // namespace filarix
