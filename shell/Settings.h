#pragma once
// The per-user settings store: text values addressed by section and key,
// compared without regard to case. One file under the XDG config directory,
// written atomically and readable by its owner alone (it holds a password).

#include <QHash>
#include <QString>
#include <QStringList>
#include <array>

class SettingsStore
{
public:
    explicit SettingsStore(QString path);

    QString value(const QString& section, const QString& key, const QString& def) const;
    // Returns false when the file could not be written; the value is kept in
    // memory either way, so the running program sees it.
    bool setValue(const QString& section, const QString& key, const QString& value);

    QString path() const { return m_path; }
    // True when the file existed but could not be read or parsed; its values are
    // then ignored, and the first save moves it aside instead of overwriting it.
    bool wasCorrupt() const { return m_corrupt; }
    QString lastError() const { return m_error; }
    void reload();

    // The store of this user for application `appName`.
    static QString defaultPath(const QString& appName);

private:
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
    // Sets the value in memory; false when it was there already.
    bool apply(const QString& section, const QString& key, const QString& value);
    // What identifies the file's content on disk, to notice another copy's writes.
    QString diskStamp() const;

    QString m_path;
    QList<QString> m_order;
    QHash<QString, Section> m_sections;
    bool m_corrupt = false;
    QString m_error;
    QString m_stamp; // of the file as last read or written
    // Values whose write failed: kept in memory and written with the next save.
    QList<std::array<QString, 3>> m_unsaved;
};

// The program's store (AppName "Vantora"); tests may point it elsewhere.
SettingsStore& settingsStore();
void setSettingsPath(const QString& path);

QString GetSetting(const QString& section, const QString& key, const QString& def = {});
void SaveSetting(const QString& section, const QString& key, const QString& value);

// Conversions the readers use; a value that does not convert yields the default.
int settingInt(const QString& section, const QString& key, int def);
bool settingBool(const QString& section, const QString& key, bool def);
double settingReal(const QString& section, const QString& key, double def);
bool parseBool(const QString& text, bool def);
