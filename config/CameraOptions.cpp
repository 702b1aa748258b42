#include "config/CameraOptions.h"

#include "capture/Capture.h"
#include "shell/Settings.h"

CameraOptions::CameraOptions(Capture* capture, QObject* parent) : QObject(parent), m_capture(capture) {}

void CameraOptions::load()
{
    m_names.clear();
    m_selected = -1;
    m_description.clear();
    if (!m_capture)
        return;
    for (int i = 0; i < m_capture->driverCount(); ++i)
        m_names.append(m_capture->driverName(i));
    const int current = m_capture->driverIndex();
    if (current >= 0 && current < m_names.size())
        select(current);
}

void CameraOptions::unload() { Settings::instance().set(setting::CaptureDriver, m_selected); }

bool CameraOptions::formatDialogOffered() const { return m_capture && m_capture->hasVideoFormatDialog(); }

bool CameraOptions::sourceDialogOffered() const { return m_capture && m_capture->hasVideoSourceDialog(); }

bool CameraOptions::select(int index)
{
    if (!m_capture || index < 0 || index >= m_names.size())
        return false;
    m_selected = index;
    m_description = m_capture->driverDescription(index);
    // The driver already running is left alone: reconnecting it would only
    // interrupt the preview.
    if (index == m_capture->driverIndex() && m_capture->connected())
        return true;
    if (m_capture->setDriverIndex(index))
        return true;
    emit errorWanted(connectFailedMessage());
    return false;
}
