#include "platform/gtk/IndicatorStatusItem.h"

#include "BuildConfig.h"

#include <libayatana-appindicator/app-indicator.h>

namespace quorvel::gtk {

namespace {

class IndicatorStatusItem final : public StatusItem {
public:
    explicit IndicatorStatusItem(const std::optional<std::filesystem::path>& icon) {
        const std::string iconName = icon ? icon->string() : "io.quorvel.Desktop";
        indicator = app_indicator_new(build::applicationId, iconName.c_str(),
                                      APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
        app_indicator_set_title(indicator, "Quorvel");
        app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
    }

    ~IndicatorStatusItem() override {
        g_object_unref(indicator);
        if (menuWidget) {
            g_object_unref(menuWidget);
        }
    }

    bool hasButton() const override { return true; }

    void setButtonTitle(const std::string& title) override {
        app_indicator_set_label(indicator, title.c_str(), title.c_str());
    }

    void setMenu(const Menu& menu) override {
        actions.clear();
        GtkWidget* widget = gtk_menu_new();
        for (const MenuItem& item : menu.items) {
            GtkWidget* entry = item.separator ? gtk_separator_menu_item_new()
                                              : gtk_menu_item_new_with_label(item.title.c_str());
            if (!item.separator) {
                actions.push_back(std::make_unique<std::function<void()>>(item.action));
                g_signal_connect(entry, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
                                     (*static_cast<std::function<void()>*>(data))();
                                 }),
                                 actions.back().get());
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(widget), entry);
        }
        gtk_widget_show_all(widget);
        if (menuWidget) {
            g_object_unref(menuWidget);
        }
        menuWidget = GTK_WIDGET(g_object_ref_sink(widget));
        app_indicator_set_menu(indicator, GTK_MENU(menuWidget));
    }

private:
    AppIndicator* indicator = nullptr;
    GtkWidget* menuWidget = nullptr;
    std::vector<std::unique_ptr<std::function<void()>>> actions;
};

} // namespace

std::unique_ptr<StatusItem>
makeIndicatorStatusItem(const std::optional<std::filesystem::path>& icon) {
    return std::make_unique<IndicatorStatusItem>(icon);
}

} // namespace quorvel::gtk
