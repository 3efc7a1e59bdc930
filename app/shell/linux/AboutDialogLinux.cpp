#include "shell/linux/AboutDialogLinux.h"

#include "shell/linux/GtkWindows.h"

#include "AppConfig.h"

#include <Poco/Path.h>

#include <fstream>
#include <iterator>
#include <utility>

namespace ferrovan {

namespace {

const char* const kLicenceFile = "lic.txt";

GtkWidget* label(const std::string& text, double scale, PangoWeight weight)
{
    GtkWidget* widget = leftAlignedLabel(text);
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_scale_new(scale));
    pango_attr_list_insert(attributes, pango_attr_weight_new(weight));
    gtk_label_set_attributes(GTK_LABEL(widget), attributes);
    pango_attr_list_unref(attributes);
    return widget;
}

GtkWidget* licenceView(const std::string& text)
{
    GtkWidget* view = gtk_text_view_new();
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(view), GTK_WRAP_WORD);
    // A text buffer takes valid UTF-8 only; a damaged byte shows as a replacement character
    // instead of losing the whole text.
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), valid, -1);
    g_free(valid);
    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_size_request(scrolled, 560, 220);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    return scrolled;
}

} // namespace

std::unique_ptr<IAboutDialog> createAboutDialog(INativeUiDataHolder* parent, const std::string& resourcesFolder,
                                                const std::string& version)
{
    return std::make_unique<AboutDialogLinux>(parent, resourcesFolder, version);
}

AboutDialogLinux::AboutDialogLinux(INativeUiDataHolder* parent, std::string resourcesFolder, std::string version)
    : FvDialogLinuxBase(parent, "About " FV_PRODUCT_NAME), m_resourcesFolder(std::move(resourcesFolder)),
      m_version(std::move(version))
{
}

void AboutDialogLinux::onInitDialog(GtkDialog* dialog)
{
    gtk_dialog_add_button(dialog, "_Close", GTK_RESPONSE_CLOSE);

    GtkWidget* text = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_box_pack_start(GTK_BOX(text), label(FV_PRODUCT_NAME, PANGO_SCALE_XX_LARGE, PANGO_WEIGHT_BOLD), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(text), label("Version " + m_version, PANGO_SCALE_LARGE, PANGO_WEIGHT_NORMAL), FALSE,
                       FALSE, 0);
    gtk_box_pack_start(
        GTK_BOX(text),
        label("Desktop client of the " FV_PRODUCT_NAME " file-transfer service", 1.0, PANGO_WEIGHT_NORMAL), FALSE,
        FALSE, 0);
    gtk_box_pack_start(GTK_BOX(text), licenceView(readLicence()), TRUE, TRUE, 0);

    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
    gtk_container_set_border_width(GTK_CONTAINER(row), 12);
    GtkWidget* icon = gtk_image_new_from_icon_name(FV_APP_ID, GTK_ICON_SIZE_DIALOG);
    gtk_image_set_pixel_size(GTK_IMAGE(icon), 96);
    gtk_widget_set_valign(icon, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(row), text, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), row, TRUE, TRUE, 0);
    gtk_widget_show_all(row);
}

std::string AboutDialogLinux::readLicence() const
{
    Poco::Path path(m_resourcesFolder);
    path.makeDirectory();
    path.setFileName(kLicenceFile);
    std::ifstream file(path.toString(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace ferrovan
