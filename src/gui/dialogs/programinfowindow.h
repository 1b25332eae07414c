#pragma once

#include <QWidget>

class QPushButton;

namespace platform {
class WrappingTextEdit;
}

// The program-information window: shows the text of ProgramInfo.txt, read when the window
// is loaded, in a read-only box. It has no close box; its own Close button unloads it.
class ProgramInfoWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ProgramInfoWindow(QWidget *parent = nullptr);
    ~ProgramInfoWindow() override;

    // The load handler: puts the whole of ProgramInfo.txt into the text box. Returns an empty
    // string, or the error (naming the file and the reason) that left the box empty.
    QString load();

private:
    platform::WrappingTextEdit *m_txtProgramInfo = nullptr;
    QPushButton *m_cmdClose = nullptr;
};

namespace info {

// Shows the one program-information window: loads it (reading the file) when it is not
// loaded and says so in a message box when the file could not be read; otherwise only
// brings it to the front.
ProgramInfoWindow *showProgramInfo();

// The loaded window, or nullptr.
ProgramInfoWindow *programInfoWindow();

} // namespace info
