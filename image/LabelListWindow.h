#pragma once
// "Font Settings": the text labels over a picture of the current frame. The
// labels and their write-back live in LabelList; this window shows them.

#include "image/LabelList.h"

#include <QImage>
#include <QPointer>
#include <QSizeF>
#include <QWidget>

class Capture;
class QLabel;
class QListWidget;
class QPushButton;
class LabelEditor;

class LabelListWindow : public QWidget
{
    Q_OBJECT
public:
    // Takes the current frame from `capture` (none: an empty picture).
    explicit LabelListWindow(Capture* capture = nullptr, QWidget* parent = nullptr);
    ~LabelListWindow() override;

    LabelList& labels() { return m_labels; }
    // The frame picture and its size in twips (15 to a pixel).
    QImage picture() const { return m_picture; }
    // The picture as shown: the frame with the live labels printed on it.
    QImage shownPicture() const { return m_shownPicture; }
    QSizeF pictureSizeTwips() const;
    // The extent of the text label `number` prints now, in its font, in twips.
    QSizeF labelExtent(int number) const;

    QListWidget* list() const { return m_list; }
    // The label editor, made on first use.
    LabelEditor* editor();
    // Shows the label's text in its list entry.
    void refreshEntry(int number);
    // The colour dialog this window holds for the editor.
    bool chooseColour(qint32& colour);

    // What closing does: the editor closes, the labels are written back (once).
    // A page embedded in another window never gets a close event; its owner
    // calls this when it closes.
    void finishEditing();

    void addLabel();
    void deleteLabel();
    void editLabel();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void takeFrame(Capture* capture);
    void fillList();
    void showPicture();

    LabelList m_labels;
    QImage m_picture;
    QImage m_shownPicture;
    QSize m_pictureSize;
    QLabel* m_pictureView = nullptr;
    QListWidget* m_list = nullptr;
    QPointer<LabelEditor> m_editor;
    bool m_closed = false;
};
