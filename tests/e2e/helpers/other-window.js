// Another application's window, to put in front of the shell's: a plain
// GTK window titled "Other" that fills the screen.
imports.gi.versions.Gtk = '3.0';
const { Gtk } = imports.gi;

Gtk.init(null);
const window = new Gtk.Window({ title: 'Other' });
window.set_default_size(1600, 1000);
window.add(new Gtk.Label({ label: 'Other' }));
window.connect('destroy', () => Gtk.main_quit());
window.show_all();
Gtk.main();
