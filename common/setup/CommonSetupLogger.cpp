#include "common/setup/CommonSetupLogger.h"

#include <boost/log/attributes/constant.hpp>

BOOST_LOG_GLOBAL_LOGGER_DEFAULT(CommonSetupLogger,
                                boost::log::sources::severity_logger_mt<cptlib::Severity>)
