#include "platform/gtk/GtkMenuBar.h"

#include <giomm/menumodel.h>
#include <gmock/gmock.h>
#include <gtkmm/application.h>

namespace quorvel::gtk {
namespace {

using ::testing::ElementsAre;

std::string stringAttribute(const Glib::RefPtr<Gio::MenuModel>& model, int index,
                            Gio::MenuAttribute attribute) {
    const Glib::VariantBase value =
        model->get_item_attribute(index, attribute, Glib::VARIANT_TYPE_STRING);
    return value ? std::string(
                       Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(value).get())
                 : std::string{};
}

// The menu bar as GTK shows it: top-level titles, then for each item its
// label, accelerator, and "|" where a separator stands.
std::vector<std::string> describe(const Glib::RefPtr<Gtk::Application>& app,
                                  const Glib::RefPtr<Gio::MenuModel>& bar) {
    std::vector<std::string> lines;
    for (int top = 0; top < bar->get_n_items(); ++top) {
        lines.push_back("[" + stringAttribute(bar, top, Gio::MENU_ATTRIBUTE_LABEL) + "]");
        const auto submenu = bar->get_item_link(top, Gio::MENU_LINK_SUBMENU);
        for (int section = 0; section < submenu->get_n_items(); ++section) {
            if (section > 0) {
                lines.push_back("|");
            }
            const auto items = submenu->get_item_link(section, Gio::MENU_LINK_SECTION);
            for (int i = 0; i < items->get_n_items(); ++i) {
                std::string line = stringAttribute(items, i, Gio::MENU_ATTRIBUTE_LABEL);
                const std::string action = stringAttribute(items, i, Gio::MENU_ATTRIBUTE_ACTION);
                for (const auto& accel : app->get_accels_for_action(action)) {
                    line += " " + accel;
                }
                lines.push_back(line);
            }
        }
    }
    return lines;
}

TEST(GtkMenuBarTest, BuildsTheMenuBarWithCtrlAcceleratorsAndWorkingActions) {
    auto app = Gtk::Application::create("io.quorvel.MenuBarTest", Gio::APPLICATION_NON_UNIQUE);
    ASSERT_TRUE(app->register_application());
    GtkMenuBar menus(app, "Quorvel", std::nullopt);
    std::vector<std::string> ran;
    Menu main;
    auto first = std::make_shared<Menu>();
    first->addItem("关于Quorvel", "about", [&] { ran.push_back("about"); });
    first->addSeparator();
    first->addItem(
        "退出Quorvel", "quit", [&] { ran.push_back("quit"); }, "q");
    main.addSubmenu(first);
    auto file = std::make_shared<Menu>();
    file->title = "文件";
    file->addItem(
        "打开配置文件", "config", [&] { ran.push_back("config"); }, ",");
    main.addSubmenu(file);
    menus.setMainMenu(main);

    EXPECT_THAT(describe(app, app->get_menubar()),
                ElementsAre("[Quorvel]", "关于Quorvel", "|", "退出Quorvel <Primary>q", "[文件]",
                            "打开配置文件 <Primary>comma"));
    for (const auto& name : app->list_actions()) {
        app->activate_action(name);
    }
    std::sort(ran.begin(), ran.end());
    EXPECT_THAT(ran, ElementsAre("about", "config", "quit"));
}

} // namespace
} // namespace quorvel::gtk
