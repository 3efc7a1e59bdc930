#pragma once

#include "shell/FvDialog.h"

#include <memory>
#include <string>

namespace ferrovan {

// "About Ferrovan": the version and the licence.
class IAboutDialog : public virtual IFvDialog {};

// The licence is read from "lic.txt" in `resourcesFolder` (UTF-8); without it the licence box is
// empty. The version line reads "Version " + `version`.
std::unique_ptr<IAboutDialog> createAboutDialog(INativeUiDataHolder* parent, const std::string& resourcesFolder,
                                                const std::string& version);

} // namespace ferrovan
