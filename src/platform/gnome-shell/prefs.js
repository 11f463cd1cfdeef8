// The extension's one setting: how long the user must be idle before the
// saver starts, shown in whole minutes.
import Adw from 'gi://Adw';
import Gtk from 'gi://Gtk';

import {ExtensionPreferences} from 'resource:///org/gnome/Shell/Extensions/js/extensions/prefs.js';

export default class QuillomirPreferences extends ExtensionPreferences {
    fillPreferencesWindow(window) {
        const settings = this.getSettings();
        const row = new Adw.SpinRow({
            title: 'Wait time (minutes)',
            subtitle: 'Without input for this long, the saver starts. Keep it shorter than the screen blank delay in Settings, Power.',
            adjustment: new Gtk.Adjustment({lower: 1, upper: 1440, step_increment: 1, page_increment: 10}),
        });
        row.value = Math.max(1, Math.round(settings.get_uint('wait-seconds') / 60));
        row.connect('notify::value', () => settings.set_uint('wait-seconds', row.value * 60));
        const group = new Adw.PreferencesGroup();
        group.add(row);
        const page = new Adw.PreferencesPage();
        page.add(group);
        window.add(page);
        window._settings = settings;
    }
}
