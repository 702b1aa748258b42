#include "image/LabelListWindow.h"

#include "capture/Capture.h"
#include "image/Choosers.h"
#include "image/LabelEditor.h"
#include "shell/Globals.h"
#include "shell/Settings.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// Picture size when there is neither a frame nor a configured served size.
constexpr QSize DefaultPictureSize(320, 240);
} // namespace

LabelListWindow::LabelListWindow(Capture* capture, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("labelListWindow"));
    setWindowTitle(QStringLiteral("Font Settings"));

    m_pictureView = new QLabel(this);
    m_pictureView->setObjectName(QStringLiteral("labelPicture"));
    m_pictureView->setFrameShape(QFrame::Box);

    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("labelList"));

    auto* group = new QGroupBox(QStringLiteral("Text-On-Image"), this);
    group->setObjectName(QStringLiteral("labelsBox"));
    auto* add = new QPushButton(QStringLiteral("Add new Text label"), group);
    add->setObjectName(QStringLiteral("addButton"));
    auto* del = new QPushButton(QStringLiteral("Delete Text label"), group);
    del->setObjectName(QStringLiteral("deleteButton"));
    auto* edit = new QPushButton(QStringLiteral("Edit Text label"), group);
    edit->setObjectName(QStringLiteral("editButton"));
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_list, 1);
    groupLayout->addWidget(add);
    groupLayout->addWidget(del);
    groupLayout->addWidget(edit);

    // Side by side: a camera-sized picture and the list still fit a small screen.
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_pictureView, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(group);

    connect(add, &QPushButton::clicked, this, &LabelListWindow::addLabel);
    connect(del, &QPushButton::clicked, this, &LabelListWindow::deleteLabel);
    connect(edit, &QPushButton::clicked, this, &LabelListWindow::editLabel);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &LabelListWindow::editLabel);

    takeFrame(capture);
    m_labels.load();
    fillList();
}

LabelListWindow::~LabelListWindow() { delete m_editor; }

void LabelListWindow::takeFrame(Capture* capture)
{
    // The frame is in memory already; a file in the shared temporary folder
    // would only give others a name to plant a link under.
    QImage frame;
    if (capture && capture->connected())
        capture->grabFrame(); // the newest frame, without waiting
    if (capture)
        frame = capture->frame();

    // The size frames will be served at, as stored: the engine's copies of
    // these exist only while it is online, and labels placed on a picture of
    // another size would land elsewhere once served.
    const Settings& settings = Settings::instance();
    int w = 0, h = 0;
    if (settings.get(setting::ResizeFrames) && FrameSizeForCode(settings.get(setting::FrameSizeCode), w, h)) {
        m_pictureSize = QSize(w, h);
        if (!frame.isNull())
            frame = frame.scaled(m_pictureSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    } else if (!frame.isNull()) {
        m_pictureSize = frame.size();
    } else if (capture && capture->frameSize().isValid()) {
        m_pictureSize = capture->frameSize();
    } else {
        m_pictureSize = DefaultPictureSize;
    }
    m_picture = frame;
    m_pictureView->setFixedSize(m_pictureSize + QSize(2, 2));
}

void LabelListWindow::showPicture()
{
    // The live labels printed as the server prints them, so what is placed
    // here is what viewers get.
    QImage shown(m_pictureSize, QImage::Format_RGB32);
    shown.fill(Qt::black);
    QPainter painter(&shown);
    if (!m_picture.isNull())
        painter.drawImage(QPoint(0, 0), m_picture);
    const QDateTime now = QDateTime::currentDateTime();
    for (int row = 0; row < m_labels.count(); ++row)
        drawLabel(painter, m_labels.label(m_labels.numberAt(row)), now);
    painter.end();
    m_shownPicture = shown;
    m_pictureView->setPixmap(QPixmap::fromImage(shown));
}

void LabelListWindow::fillList()
{
    m_list->clear();
    for (int row = 0; row < m_labels.count(); ++row)
        m_list->addItem(m_labels.entryText(row));
    showPicture();
}

QSizeF LabelListWindow::pictureSizeTwips() const { return QSizeF(m_pictureSize) * labels::TwipsPerPixel; }

QSizeF LabelListWindow::labelExtent(int number) const
{
    if (!m_labels.contains(number))
        return {};
    return labelExtentTwips(m_labels.label(number), QDateTime::currentDateTime());
}

LabelEditor* LabelListWindow::editor()
{
    if (!m_editor)
        m_editor = new LabelEditor(this);
    return m_editor;
}

void LabelListWindow::refreshEntry(int number)
{
    const int row = m_labels.rowOf(number);
    if (row < 0)
        return;
    m_labels.setEntryText(row, m_labels.label(number).caption);
    if (QListWidgetItem* item = m_list->item(row))
        item->setText(m_labels.entryText(row));
    showPicture();
}

bool LabelListWindow::chooseColour(qint32& colour) { return ::chooseColour(colour, this); }

void LabelListWindow::addLabel()
{
    const int n = m_labels.add();
    m_list->addItem(m_labels.entryText(m_labels.rowOf(n)));
    showPicture();
}

void LabelListWindow::deleteLabel()
{
    const int row = m_list->currentRow();
    if (row < 0 || !m_list->currentItem() || !m_list->currentItem()->isSelected())
        return;
    if (m_editor && m_editor->labelNumber() == m_labels.numberAt(row))
        m_editor->close();
    if (m_labels.remove(row)) {
        delete m_list->takeItem(row);
        showPicture();
    }
}

void LabelListWindow::editLabel()
{
    const int row = m_list->currentRow();
    if (row < 0 || !m_list->currentItem() || !m_list->currentItem()->isSelected())
        return;
    editor()->edit(m_labels.numberAt(row));
}

void LabelListWindow::finishEditing()
{
    if (m_editor)
        m_editor->close();
    if (!m_closed) {
        m_closed = true;
        m_labels.close();
    }
}

void LabelListWindow::closeEvent(QCloseEvent* event)
{
    finishEditing();
    event->accept();
}
