// Another program's window for the desktop tests: a plain window filled with one colour,
// full-screen or not, that a message window must stay above.
//   tellwick_test_cover_window TITLE fullscreen|normal [#rrggbb]
#include <QApplication>
#include <QPainter>
#include <QWidget>

namespace {

class Cover : public QWidget {
public:
    explicit Cover(QColor colour) : colour_(colour) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour_); }

private:
    QColor colour_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) return 2;
    Cover w(QColor(QString::fromLocal8Bit(argc > 3 ? argv[3] : "#ff00ff")));
    w.setWindowTitle(QString::fromLocal8Bit(argv[1]));
    if (qstrcmp(argv[2], "fullscreen") == 0) {
        w.showFullScreen();
    } else {
        w.resize(800, 600);
        w.show();
    }
    return app.exec();
}
