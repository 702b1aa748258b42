#pragma once
// The per-user settings store: text values addressed by section and key,
// compared without regard to case. One file under the XDG config directory,
// written atomically and readable by its owner alone (it holds a password).
//
// Writes are batched: a change is kept in memory at once (readers see it) and
// the file is written once control returns to the event loop, so an action
// that changes many values writes the file once. Code that runs without an
// event loop calls flush() or holds a SettingsBatch; whatever is pending is
// written at quit and when the store is destroyed.

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

// One stored value: where it lives and what it is when missing or unreadable.
// T is int, bool, double or const char* (text).
template <typename T> struct SettingKey
{
    const char* section;
    const char* key;
    T fallback;
};

// Every value the program reads by name, with its default. Labels live in
// "Captions" under numbered keys and are reached with value()/setValue().
namespace setting {
// The streaming account and the camera server.
inline constexpr SettingKey<const char*> UserName{"Streaming", "Username", ""};
inline constexpr SettingKey<const char*> Domain{"Streaming", "Domain", ""};
inline constexpr SettingKey<const char*> Password{"Streaming", "Password", ""};
inline constexpr SettingKey<int> StreamingEnabled{"Streaming", "Enable", 1}; // 1 = online at start
inline constexpr SettingKey<int> Port{"Streaming", "Port", 2156};
// One address to listen on (a camera published through a tunnel or proxy); empty = every interface.
inline constexpr SettingKey<const char*> ListenAddress{"Streaming", "ListenAddress", ""};
// Pictures sent to viewers.
inline constexpr SettingKey<int> JpegQuality{"JPEG", "Quality", 20};
inline constexpr SettingKey<bool> ResizeFrames{"JPEG", "ResChange", false};
inline constexpr SettingKey<int> FrameSizeCode{"JPEG", "ResCode", 0};
// Camera and error reporting.
inline constexpr SettingKey<bool> ShowStreamErrors{"Settings", "StreamError", false};
inline constexpr SettingKey<bool> ShowCameraErrors{"Settings", "ShowCamError", true};
inline constexpr SettingKey<bool> DisableCheck{"Settings", "DisableCheck", false};
inline constexpr SettingKey<int> CaptureDriver{"Settings", "drivera", 0};
// The same camera by what tells it apart: drivera is a place in a list that
// changes as cameras come and go. Older files lack these and go by drivera.
inline constexpr SettingKey<const char*> CaptureDevice{"Settings", "driverdevice", ""};
inline constexpr SettingKey<const char*> CaptureDeviceName{"Settings", "drivername", ""};
inline constexpr SettingKey<const char*> CaptureDeviceBus{"Settings", "driverbus", ""};
// Options.
inline constexpr SettingKey<int> DisableMessenger{"Options", "DisMessenger", 1};
inline constexpr SettingKey<int> DisableChat{"Options", "DisChat", 0};
inline constexpr SettingKey<int> AutoCheck{"Options", "autocheck", 1};
inline constexpr SettingKey<int> ProgramMode{"Options", "ProgramMode", 1};
// The version the update check compares against.
inline constexpr SettingKey<const char*> RunningVersion{"AutoUpdate", "version", ""};
inline constexpr SettingKey<bool> ConnectionsWindowVisible{"Active Connections", "WindowVisible", false};
// How many labels "Captions" holds.
inline constexpr SettingKey<int> LabelCount{"Captions", "index", 0};
} // namespace setting

// The streaming account as the log-in box holds it.
struct StreamingAccount
{
    QString userName;
    QString domain;
    QString password;
    // "user.domain", the name the directory knows.
    QString name() const { return userName + u'.' + domain; }
    bool operator==(const StreamingAccount&) const = default;
};

class Settings : public QObject
{
    Q_OBJECT
public:
    // Files larger than this are refused rather than read whole.
    static constexpr qint64 MaxFileSize = 1024 * 1024;

    explicit Settings(QString path, QObject* parent = nullptr);
    ~Settings() override; // writes what is pending

    // The program's store (AppName "Vantora"); tests point it elsewhere with usePath().
    static Settings& instance();
    // Replaces the program's store by one on `path` (the old one is written first).
    static void usePath(const QString& path);
    // The store of this user for application `appName`.
    static QString defaultPath(const QString& appName);

    // Typed access through the table above.
    QString get(const SettingKey<const char*>& k) const;
    QString get(const SettingKey<const char*>& k, const QString& fallback) const;
    int get(const SettingKey<int>& k) const;
    bool get(const SettingKey<bool>& k) const;
    double get(const SettingKey<double>& k) const;
    void set(const SettingKey<const char*>& k, const QString& value);
    void set(const SettingKey<int>& k, int value);
    void set(const SettingKey<bool>& k, bool value); // stored as "True"/"False"
    void set(const SettingKey<double>& k, double value);

    StreamingAccount account() const;
    void setAccount(const StreamingAccount& account);

    // Generic access for keys made at run time.
    QString value(const QString& section, const QString& key, const QString& fallback = {}) const;
    int intValue(const QString& section, const QString& key, int fallback) const;
    bool boolValue(const QString& section, const QString& key, bool fallback) const;
    double realValue(const QString& section, const QString& key, double fallback) const;
    // Sets the value in memory at once and schedules the write.
    void setValue(const QString& section, const QString& key, const QString& value);

    // Writes what is pending now. False when the file could not be written: the
    // values stay in memory and are written with the next flush.
    bool flush();
    bool hasPendingWrites() const { return !m_pending.isEmpty(); }
    // How many times the file was written by this store.
    int writeCount() const { return m_writes; }

    QString path() const { return m_path; }
    // True when the file existed but could not be read (not a regular file, too
    // large, unreadable or not in the store's format); its values are then
    // ignored, and the first write sets it aside instead of overwriting it.
    bool wasCorrupt() const { return m_corrupt; }
    QString lastError() const { return m_error; }
    // Reads the file again; pending values are kept on top of it.
    void reload();

signals:
    // A value changed in memory (not emitted when set to what it was).
    void changed(const QString& section, const QString& key);
    // A write failed; `error` says why. The values are kept for the next one.
    void writeFailed(const QString& error);

private:
    friend class SettingsBatch;
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        QList<QString> order; // folded keys in the order they were first written
        QHash<QString, Entry> entries;
    };

    bool load();
    bool write();
    void scheduleFlush();
    // Sets the value in memory; false when it was there already.
    bool apply(const QString& section, const QString& key, const QString& value);

    QString m_path;
    QList<QString> m_order;
    QHash<QString, Section> m_sections;
    bool m_corrupt = false;
    QString m_error;
    // Values set since the last successful write, in order.
    QList<std::array<QString, 3>> m_pending;
    bool m_flushQueued = false;
    int m_batchDepth = 0;
    int m_writes = 0;
};

// Holds back writes of `settings` while it lives; the outermost batch writes
// once when it ends. For code that changes many values outside an event loop.
class SettingsBatch
{
public:
    explicit SettingsBatch(Settings& settings = Settings::instance());
    ~SettingsBatch();
    SettingsBatch(const SettingsBatch&) = delete;
    SettingsBatch& operator=(const SettingsBatch&) = delete;

private:
    Settings& m_settings;
};

// Parses the stored forms of a yes/no value ("True", "False", numbers).
bool parseBool(const QString& text, bool fallback);

// Shorthands on the program's store, kept for callers not yet on the typed API.
inline Settings& settingsStore() { return Settings::instance(); }
inline void setSettingsPath(const QString& path) { Settings::usePath(path); }
inline QString GetSetting(const QString& section, const QString& key, const QString& fallback = {})
{
    return Settings::instance().value(section, key, fallback);
}
inline void SaveSetting(const QString& section, const QString& key, const QString& value)
{
    Settings::instance().setValue(section, key, value);
}
inline int settingInt(const QString& section, const QString& key, int fallback)
{
    return Settings::instance().intValue(section, key, fallback);
}
inline bool settingBool(const QString& section, const QString& key, bool fallback)
{
    return Settings::instance().boolValue(section, key, fallback);
}
inline double settingReal(const QString& section, const QString& key, double fallback)
{
    return Settings::instance().realValue(section, key, fallback);
}
