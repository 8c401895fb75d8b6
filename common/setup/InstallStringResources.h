#pragma once
// The setup programs' string table: texts may name properties ("[ProductName]").

#include "cptlib/localization/MemStringResources.h"
#include "cptlib/localization/Placeholders.h"

#include <boost/regex.hpp>

#include <string>

namespace zqmsi {

class InstallStringResources : public cptlib::MemStringResources {
public:
    InstallStringResources();
    ~InstallStringResources() override;

    // The stored text with the placeholders of `properties` expanded; other bracketed names
    // ("[ProductNameShort]", "[1]") stay as written.
    std::string GetText(const std::string& id) const override;

    cptlib::PropertyMap properties;
    const boost::regex placeholderPattern;
};

} // namespace zqmsi
