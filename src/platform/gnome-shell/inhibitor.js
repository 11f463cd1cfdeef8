// Whether an application holds idle back (a video playing, a presentation):
// GNOME gathers every idle inhibitor, the Wayland protocol's among them, in
// gnome-session's InhibitedActions, where bit 8 means "idle".
import Gio from 'gi://Gio';

const IDLE = 8;

const SessionManagerIface = `<node>
  <interface name="org.gnome.SessionManager">
    <property name="InhibitedActions" type="u" access="read"/>
  </interface>
</node>`;
const SessionManagerProxy = Gio.DBusProxy.makeProxyWrapper(SessionManagerIface);

export class IdleInhibition {
    // onLifted runs when the last idle inhibitor goes away.
    constructor(onLifted) {
        this._onLifted = onLifted;
        this._inhibited = false;
        this._cancellable = new Gio.Cancellable();
        // The proxy follows the name's owner, so a session manager that comes
        // (or restarts) later is heard too; without one nothing is inhibited.
        this._proxy = new SessionManagerProxy(Gio.DBus.session, 'org.gnome.SessionManager',
            '/org/gnome/SessionManager', (proxy, error) => {
                if (error && !error.matches(Gio.IOErrorEnum, Gio.IOErrorEnum.CANCELLED))
                    console.warn(`Quillomir: no session manager to ask about idle inhibitors: ${error.message}`);
                else if (!error)
                    this._update();
            }, this._cancellable, Gio.DBusProxyFlags.DO_NOT_AUTO_START);
        this._changed = this._proxy.connect('g-properties-changed', () => this._update());
        this._owner = this._proxy.connect('notify::g-name-owner', () => this._update());
    }

    get inhibited() {
        return this._inhibited;
    }

    _update() {
        const actions = this._proxy.g_name_owner ? this._proxy.InhibitedActions ?? 0 : 0;
        const was = this._inhibited;
        this._inhibited = (actions & IDLE) !== 0;
        if (was && !this._inhibited)
            this._onLifted();
    }

    destroy() {
        this._cancellable.cancel();
        this._proxy.disconnect(this._changed);
        this._proxy.disconnect(this._owner);
        this._proxy = null;
    }
}
