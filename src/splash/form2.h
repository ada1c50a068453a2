#pragma once

#include <QPixmap>
#include <QWidget>

#include <memory>

namespace Ui {
class Form2;
}

// The picture window with the program's name, version and credit. It starts the program
// (and stays hidden), and it is the About window while the thunder plays.
class Form2 final : public QWidget {
    Q_OBJECT

public:
    // What this window does with the main window.
    class MainWindow {
    public:
        virtual ~MainWindow() = default;
        // Runs the main window's load step the first time. False when the main window
        // has refused to start and closed again.
        virtual bool Load() = 0;
        virtual void Show() = 0;
        virtual void Refresh() = 0;
    };

    explicit Form2(MainWindow& mainWindow);
    ~Form2() override;

    // The load step: brings up the main window and stays hidden. False when the main
    // window refused to start; the caller then unloads this window.
    bool Form_Load();
    // Centred on the screen the main window is on.
    void showCentred(const QWidget& mainWindow);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<Ui::Form2> ui;
    MainWindow& mainWindow_;
    QPixmap picture_;
};
