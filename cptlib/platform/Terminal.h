#pragma once

namespace cptlib::platform {

bool StdinIsTerminal();
bool StderrIsTerminal();

} // namespace cptlib::platform
