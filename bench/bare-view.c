/* The floor for the shell's figures: a bare WebKitGTK view in a 1280x820
 * window with the shell's engine settings (sandbox on, no accelerated
 * compositing) and nothing else, loading the benchmark's page.
 *   cc -O2 bench/bare-view.c -o build/bench/bare-view $(pkg-config --cflags --libs webkit2gtk-4.1)
 *   EXTRA_SHELLS=bare=$PWD/build/bench/bare-view bench/run.sh */
#include <webkit2/webkit2.h>

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), TRUE);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "bare view");
    gtk_window_set_default_size(GTK_WINDOW(window), 1280, 820);
    GtkWidget* view = webkit_web_view_new();
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view)),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argc > 1 ? argv[1] : "http://127.0.0.1/");
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
