// Entry point of the view tests: the real widget application on Qt's offscreen platform with
// the software renderer, so views load, lay out and render without a display.
#include "support/TestHome.h"

#include <QApplication>
#include <QQuickStyle>
#include <QQuickWindow>

#include <gtest/gtest.h>

#include <stdlib.h>

int main(int argc, char** argv) {
    const std::filesystem::path home = fernhollow::test::useTemporaryHome();
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QQuickStyle::setStyle(QStringLiteral("Fusion"));
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // The scene graph deletes the textures of images its views let go of at its next frame;
    // after the last view of the last test there is none, and it drops the queue at exit
    // without deleting them. One more frame lets it, so LeakSanitizer sees a clean exit.
    {
        QQuickWindow lastFrame;
        lastFrame.show();
        lastFrame.grabWindow();
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
