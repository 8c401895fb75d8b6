#pragma once
// The log of the library and of the programs built on it: one severity logger that all share,
// so that their records reach the same sinks. Sinks are the program's to attach.

#include <boost/log/sources/global_logger_storage.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_logger.hpp>

#include <string>

namespace cptlib {

enum class Severity : int { Normal = 1, Warning = 3, Error = 4 };

template <class Stream> Stream& operator<<(Stream& out, Severity severity) {
    out << static_cast<int>(severity);
    return out;
}

BOOST_LOG_GLOBAL_LOGGER(Logger, boost::log::sources::severity_logger_mt<Severity>)

// Appends every record to the file `path` as "[severity] text", starting with `firstRecord`
// (the write that proves the file takes records). No folder is made for it, and programs the
// process starts do not inherit it. False, with the reason in `whyNot`, when the file cannot
// be opened or written; nothing is attached then. Later write failures drop their records.
bool AttachLogFile(const std::string& path, const std::string& firstRecord, std::string& whyNot);

// Drops every record: a run without a log file.
void DisableLogging();

} // namespace cptlib

// Writes one record with the given severity to the shared logger.
#define SETUP_LOG(severity) BOOST_LOG_SEV(::cptlib::Logger::get(), (severity))
