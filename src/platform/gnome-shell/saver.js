// One run of the saver: `quillomir --fullscreen` started as a Wayland client
// of the Shell itself, so that its windows are told from anyone else's and
// can be placed above everything; ended with SIGTERM when the Shell takes the
// keyboard from it.
import GLib from 'gi://GLib';
import Gio from 'gi://Gio';
import Meta from 'gi://Meta';

import * as Main from 'resource:///org/gnome/shell/ui/main.js';

const SIGTERM = 15;

// mutter 14 to 16 (GNOME 46 to 48) make the client first and spawn after;
// later ones make both in one call.
function spawnClient(argv) {
    const launcher = new Gio.SubprocessLauncher({flags: Gio.SubprocessFlags.NONE});
    if (Meta.WaylandClient.new_subprocess) {
        const client = Meta.WaylandClient.new_subprocess(global.context, launcher, argv);
        return [client, client.get_subprocess()];
    }
    const client = Meta.WaylandClient.new(global.context, launcher);
    return [client, client.spawnv(global.display, argv)];
}

export class SaverRun {
    // onEnded(run) runs once, however the saver ended.
    constructor(argv, onEnded) {
        this._argv = argv;
        this._onEnded = onEnded;
        this._windows = new Set();
        this._hadFocus = false;
        this._signals = [];
        [this._client, this._process] = spawnClient(argv);
        this._listen(global.display, 'window-created', (_display, window) => this._place(window));
        this._listen(global.display, 'notify::focus-window', () => this._checkFocus());
        this._listen(global.stage, 'notify::key-focus', () => this._checkFocus());
        this._listen(Main.overview, 'showing', () => this.stop());
        Main.messageTray.bannerBlocked = true;
        // The overview would show the saver's windows as thumbnails.
        Main.overview.hide();
        this._process.wait_async(null, (process, result) => this._ended(process, result));
    }

    _listen(object, signal, handler) {
        this._signals.push([object, object.connect(signal, handler)]);
    }

    _place(window) {
        if (!this._client || !this._client.owns_window(window))
            return;
        this._windows.add(window);
        window.connect('unmanaged', () => this._windows.delete(window));
        this._client.hide_from_window_list(window);
        window.make_above();
        window.stick();
        window.activate(global.get_current_time());
    }

    // The Shell's own shortcuts (the overview, Alt+Tab) come before any
    // client: when one takes the keyboard from the saver, that shortcut ends
    // it as any other key would.
    _checkFocus() {
        const focus = global.display.focus_window;
        const ours = focus !== null && this._windows.has(focus);
        const stageFocus = global.stage.get_key_focus();
        const shellHasKeys = stageFocus !== null && stageFocus !== global.stage;
        if (ours && !shellHasKeys) {
            this._hadFocus = true;
            return;
        }
        if (this._hadFocus)
            this.stop();
    }

    stop() {
        this._process?.send_signal(SIGTERM);
    }

    _ended(process, result) {
        try {
            process.wait_finish(result);
        } catch (e) {
            console.warn(`Quillomir: waiting for the saver failed: ${e.message}`);
        }
        const command = this._argv.join(' ');
        if (process.get_if_signaled())
            console.warn(`Quillomir: the saver (${command}) was killed by signal ${process.get_term_sig()}`);
        else if (process.get_exit_status() !== 0)
            console.warn(`Quillomir: the saver (${command}) exited with status ${process.get_exit_status()}`);
        this._release();
        this._onEnded(this);
    }

    _release() {
        for (const [object, id] of this._signals)
            object.disconnect(id);
        this._signals = [];
        this._windows.clear();
        this._client = null;
        this._process = null;
        Main.messageTray.bannerBlocked = false;
    }
}

// The program to start: the setting, or else quillomir on the Shell's PATH.
export function saverArgv(settings) {
    const chosen = settings.get_string('saver-path');
    const path = chosen !== '' ? chosen : GLib.find_program_in_path('quillomir');
    return path ? [path, '--fullscreen'] : null;
}
