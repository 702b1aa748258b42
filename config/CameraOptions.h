#pragma once
// What the camera page does with the program's capture control: lists the
// drivers in the control's order, switches driver the moment one is chosen
// (preview and snapshots follow at once), and stores the choice when the
// page unloads.

#include <QObject>
#include <QString>
#include <QStringList>

class Capture;

class CameraOptions : public QObject
{
    Q_OBJECT
public:
    explicit CameraOptions(Capture* capture, QObject* parent = nullptr);

    // Fills the list and selects the control's current driver.
    void load();
    // Writes Settings/drivera: the selected index, -1 when none is.
    void unload();

    QStringList driverNames() const { return m_names; }
    int selected() const { return m_selected; }
    QString description() const { return m_description; }
    bool formatDialogOffered() const;
    bool sourceDialogOffered() const;

    // The user chose line `index`: its description, and that driver
    // connected. False (and errorWanted) when it could not be connected; the
    // selection stays.
    bool select(int index);

    static QString connectFailedMessage() { return QStringLiteral("Could not connect video driver!"); }

signals:
    void errorWanted(const QString& message);

private:
    Capture* m_capture = nullptr;
    QStringList m_names;
    int m_selected = -1;
    QString m_description;
};
