#pragma once
// The one logger that every setup program of the family shares: the library's, so that the
// library's records and the programs' reach the same sinks.

#include "cptlib/Log.h"

using CommonSetupLogger = cptlib::Logger;
