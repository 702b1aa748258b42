#pragma once
// The recorder window's geometry in twips (15 to a pixel) and how it grows
// to fit a capture control bigger than the one it was designed around.

#include <QRect>
#include <QStringList>

namespace reel {

constexpr int TwipsPerPixel = 15;
constexpr int px(int twips) { return twips / TwipsPerPixel; }

struct Layout
{
    // Outer window size, caption and borders included.
    int windowWidth = 5075;
    int windowHeight = 4630;
    int frameWidth = 4745; // the "Preview" frame
    int frameHeight = 3055;
    int statusHeight = 375;
    int buttonHeight = 375;
    int goWidth = 1695;
    int closeWidth = 1095;
    int optionsWidth = 1095;
    // Results of fitting.
    int buttonTop = 0;
    int closeLeft = 0;
    int goLeft = 0;
    int optionsLeft = 0;
};

// The designed control size the window starts from.
constexpr int DesignedControlWidth = 4575;
constexpr int DesignedControlHeight = 2775;
// What the window's caption and borders take of its outer size.
constexpr int ChromeWidth = 90;
constexpr int ChromeHeight = 405;

// Grows the window to a control wider than 4575 or higher than 2775 twips,
// then places "Go make movie", "Close" and "Options" along the bottom.
Layout fitToControl(Layout designed, int controlWidth, int controlHeight);

// The largest control (in twips) no bigger than `control` and of its shape
// whose fitted window, caption and borders included, fits `available`.
// Where the designed arithmetic fits, the control is left as it is.
struct ControlSize
{
    int width;
    int height;
};
ControlSize fitControlToScreen(ControlSize control, ControlSize available);

// What the user typed into the file box, as the file to record into: "~"
// stands for the home folder, a bare name lands in `folder` (where the save
// dialog starts), and a name without an extension gets ".avi".
QString movieFilePath(const QString& text, const QString& folder);

// How much a take has written and how much room the disk has left, for the
// status line: "12.3 MB, 4.5 GB free". Once less than a minute of recording
// at `bytesPerSecond` fits (or under 50 MB), it warns that the disk is
// almost full.
QString takeSpaceText(qint64 fileBytes, qint64 freeBytes, double bytesPerSecond);
bool diskAlmostFull(qint64 freeBytes, double bytesPerSecond);

// The command line (arguments after the program name, joined) is exactly "/reload".
bool isRestartCommandLine(const QStringList& arguments);

// Starts folder/program without waiting for it. False (with the system's
// reason) when it cannot be started.
bool startProgram(const QString& folder, const QString& program, QString* error = nullptr);

} // namespace reel
