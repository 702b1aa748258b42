#pragma once
// The labels the list window edits: every label number that exists while the
// window is open (deleted ones keep their number until it closes), the list
// entries tied to them, and the write-back with renumbering on close.

#include "image/TextLabel.h"

#include <QString>
#include <QStringList>
#include <QVector>

class LabelList
{
public:
    // Reads Captions/Index and labels 1 to it afresh.
    void load();

    // List entries (live labels), in label-number order of their creation.
    int count() const { return int(m_rows.size()); }
    int numberAt(int row) const;
    int rowOf(int number) const; // -1 when no entry stands for it
    QString entryText(int row) const;
    void setEntryText(int row, const QString& text);

    // Label numbers run from 1 to highestNumber(); deleted ones included.
    int highestNumber() const { return int(m_labels.size()); }
    bool contains(int number) const { return number >= 1 && number <= highestNumber(); }
    TextLabel& label(int number);
    const TextLabel& label(int number) const;
    bool isDeleted(int number) const;

    // A new label one above the highest number; returns that number.
    int add();
    // Removes the entry and marks its label deleted. False when out of range.
    bool remove(int row);

    // The window closes: unless ProgramModeAlt, writes the live labels as 1, 2,
    // 3 ... and the index; then, when online, asks the engine to reload.
    // Returns true when the store was written.
    bool close();

private:
    QVector<TextLabel> m_labels; // index = number - 1
    QVector<int> m_rows;         // label number of each list entry
    QStringList m_texts;         // text of each list entry
};

// Placement of a label on the frame picture for one of the six codes ("UL",
// "UC", "UR", "BL", "BC", "BR"); all sizes in twips. False (and x, y left
// alone) for any other code.
bool placeLabel(const QString& code, double pictureWidth, double pictureHeight, double labelWidth,
                double labelHeight, float& x, float& y);
