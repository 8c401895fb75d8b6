#include "cptlib/Log.h"

namespace cptlib {

BOOST_LOG_GLOBAL_LOGGER_DEFAULT(Logger, boost::log::sources::severity_logger_mt<Severity>)

} // namespace cptlib
