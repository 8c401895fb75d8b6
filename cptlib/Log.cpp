#include "cptlib/Log.h"

#include "cptlib/DisplayText.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/LogFile.h"

#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>

#include <memory>
#include <utility>

namespace cptlib {

BOOST_LOG_GLOBAL_LOGGER_DEFAULT(Logger, boost::log::sources::severity_logger_mt<Severity>)

namespace {

class LogFileBackend final : public boost::log::sinks::basic_formatted_sink_backend<
                                 char, boost::log::sinks::synchronized_feeding> {
public:
    explicit LogFileBackend(platform::FileDescriptor file) : file_(std::move(file)) {}

    void consume(const boost::log::record_view&, const string_type& line) {
        // Names and other programs' output in a record must not drive the terminal of whoever
        // reads the log.
        std::string text = DisplayText(line);
        text += '\n';
        // A record that cannot be written is lost; the run does not depend on its log.
        platform::AppendToFile(file_, text.data(), text.size());
    }

private:
    platform::FileDescriptor file_;
};

} // namespace

bool AttachLogFile(const std::string& path, const std::string& firstRecord, std::string& whyNot) {
    platform::FileDescriptor file;
    std::uint32_t error = platform::OpenLogFile(file, path);
    if (error == kErrorSuccess) {
        const std::string line =
            "[" + std::to_string(static_cast<int>(Severity::Normal)) + "] " + firstRecord + "\n";
        error = platform::AppendToFile(file, line.data(), line.size());
    }
    if (error != kErrorSuccess) {
        whyNot = SystemErrorText(error);
        return false;
    }
    namespace expr = boost::log::expressions;
    using Sink = boost::log::sinks::synchronous_sink<LogFileBackend>;
    auto sink = boost::make_shared<Sink>(boost::make_shared<LogFileBackend>(std::move(file)));
    sink->set_formatter(expr::stream
                        << "[" << expr::attr<Severity>("Severity").or_default(Severity::Normal)
                        << "] " << expr::smessage);
    boost::log::core::get()->add_sink(sink);
    return true;
}

void DisableLogging() {
    boost::log::core::get()->set_logging_enabled(false);
}

} // namespace cptlib
