// Starts the Quillomir saver once the user has been idle for the wait time,
// unless an application holds idle back or the session is locked, and ends
// it when the screen locks or the extension is turned off (GNOME turns
// extensions off on the lock screen).
import GLib from 'gi://GLib';

import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';

import {IdleInhibition} from './inhibitor.js';
import {SaverRun, saverArgv} from './saver.js';

export default class QuillomirExtension extends Extension {
    enable() {
        this._settings = this.getSettings();
        this._monitor = global.backend.get_core_idle_monitor();
        this._run = null;
        this._retry = 0;
        this._inhibition = new IdleInhibition(() => this._countAgain());
        this._waitChanged = this._settings.connect('changed::wait-seconds', () => this._watch());
        this._sessionChanged = Main.sessionMode.connect('updated', () => {
            if (Main.sessionMode.isLocked)
                this._stop();
        });
        this._shield = Main.screenShield?.connect('active-changed', () => {
            if (Main.screenShield.active)
                this._stop();
        });
        this._watch();
    }

    disable() {
        this._stop();
        this._unwatch();
        this._settings.disconnect(this._waitChanged);
        Main.sessionMode.disconnect(this._sessionChanged);
        if (this._shield)
            Main.screenShield.disconnect(this._shield);
        this._inhibition.destroy();
        this._inhibition = null;
        this._monitor = null;
        this._settings = null;
    }

    _waitMs() {
        return this._settings.get_uint('wait-seconds') * 1000;
    }

    // The idle watch fires each time the idle time reaches the wait time,
    // once again after each input.
    _watch() {
        this._unwatch();
        this._idleWatch = this._monitor.add_idle_watch(this._waitMs(), () => this._start());
    }

    _unwatch() {
        if (this._idleWatch) {
            this._monitor.remove_watch(this._idleWatch);
            this._idleWatch = 0;
        }
        this._cancelRetry();
    }

    _cancelRetry() {
        if (this._retry) {
            GLib.source_remove(this._retry);
            this._retry = 0;
        }
        if (this._activeWatch) {
            this._monitor.remove_watch(this._activeWatch);
            this._activeWatch = 0;
        }
    }

    // Once the last inhibitor goes, the wait time counts again from then,
    // as it would from the user's last input; any input in between leaves
    // it to the idle watch.
    _countAgain() {
        this._cancelRetry();
        this._retry = GLib.timeout_add(GLib.PRIORITY_DEFAULT, this._waitMs(), () => {
            this._retry = 0;
            this._cancelRetry();
            this._start();
            return GLib.SOURCE_REMOVE;
        });
        this._activeWatch = this._monitor.add_user_active_watch(() => {
            this._activeWatch = 0;
            this._cancelRetry();
        });
    }

    _start() {
        if (this._run || this._inhibition.inhibited || Main.sessionMode.isLocked ||
            Main.screenShield?.active)
            return;
        const argv = saverArgv(this._settings);
        if (!argv) {
            console.warn('Quillomir: no quillomir program on the PATH (set saver-path)');
            return;
        }
        try {
            this._run = new SaverRun(argv, run => {
                if (this._run === run)
                    this._run = null;
            });
        } catch (e) {
            console.warn(`Quillomir: cannot start ${argv.join(' ')}: ${e.message}`);
        }
    }

    _stop() {
        this._run?.stop();
        this._run = null;
    }
}
