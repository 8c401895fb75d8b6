#pragma once
// The one logger that every setup program of the family shares.

#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>

namespace cptlib {

enum class Severity : int { Normal = 1, Warning = 3, Error = 4 };

template <class Stream> Stream& operator<<(Stream& out, Severity severity) {
    out << static_cast<int>(severity);
    return out;
}

} // namespace cptlib

BOOST_LOG_GLOBAL_LOGGER(CommonSetupLogger,
                        boost::log::sources::severity_logger_mt<cptlib::Severity>)

// Writes one record with the given severity to the shared logger.
#define SETUP_LOG(severity) BOOST_LOG_SEV(CommonSetupLogger::get(), (severity))
