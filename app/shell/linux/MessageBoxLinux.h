#pragma once

#include <gtk/gtk.h>

#include <string>

namespace ferrovan {

class INativeUiDataHolder;

// Runs a message box titled with the product name, modal and transient for `parent`'s window,
// and returns its GTK response once the user has answered or closed it. Types: 1 warning,
// 2 error, 3 information, any other no icon.
int runMessageBox(const std::string& text, int type, GtkButtonsType buttons, INativeUiDataHolder* parent);

} // namespace ferrovan
