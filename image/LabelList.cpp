#include "image/LabelList.h"

#include "shell/Globals.h"
#include "shell/Settings.h"

void LabelList::load()
{
    m_labels = loadTextLabels();
    m_rows.clear();
    m_texts.clear();
    for (int n = 1; n <= m_labels.size(); ++n) {
        m_rows.append(n);
        m_texts.append(m_labels[n - 1].caption);
    }
}

int LabelList::numberAt(int row) const { return row >= 0 && row < m_rows.size() ? m_rows[row] : 0; }

int LabelList::rowOf(int number) const { return int(m_rows.indexOf(number)); }

QString LabelList::entryText(int row) const
{
    return row >= 0 && row < m_texts.size() ? m_texts[row] : QString();
}

void LabelList::setEntryText(int row, const QString& text)
{
    if (row >= 0 && row < m_texts.size())
        m_texts[row] = text;
}

TextLabel& LabelList::label(int number)
{
    Q_ASSERT(contains(number));
    return m_labels[number - 1];
}

const TextLabel& LabelList::label(int number) const
{
    Q_ASSERT(contains(number));
    return m_labels[number - 1];
}

bool LabelList::isDeleted(int number) const
{
    return !contains(number) || m_labels[number - 1].caption == labels::DeletedMarker;
}

int LabelList::add()
{
    const int n = highestNumber() + 1;
    TextLabel l;
    l.x = 0;
    l.y = 0;
    l.caption = QStringLiteral("Text label ") + QString::number(n);
    m_labels.append(l);
    m_rows.append(n);
    m_texts.append(l.caption);
    return n;
}

bool LabelList::remove(int row)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    m_labels[m_rows[row] - 1].caption = labels::DeletedMarker;
    m_rows.removeAt(row);
    m_texts.removeAt(row);
    return true;
}

bool LabelList::close()
{
    bool saved = false;
    if (!globals().ProgramModeAlt) {
        saveTextLabels(m_labels);
        saved = true;
    }
    if (globals().OnlineSwitch)
        emit labelEvents().reloadRequested();
    return saved;
}

bool placeLabel(const QString& code, double pw, double ph, double lw, double lh, float& x, float& y)
{
    // Horizontal margin 50 twips, vertical 20.
    const double left = 50, centre = (pw - lw) / 2, right = pw - lw - 50;
    const double top = 20, bottom = ph - lh - 20;
    double nx, ny;
    if (code == QLatin1String("BL")) {
        nx = left;
        ny = bottom;
    } else if (code == QLatin1String("UL")) {
        nx = left;
        ny = top;
    } else if (code == QLatin1String("BC")) {
        nx = centre;
        ny = bottom;
    } else if (code == QLatin1String("UC")) {
        nx = centre;
        ny = top;
    } else if (code == QLatin1String("UR")) {
        nx = right;
        ny = top;
    } else if (code == QLatin1String("BR")) {
        nx = right;
        ny = bottom;
    } else {
        return false;
    }
    x = float(nx);
    y = float(ny);
    return true;
}
