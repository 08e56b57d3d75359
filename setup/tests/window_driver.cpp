// Works the windows of a real Setup process the way a person does, for the
// tests that start the program: loaded into it with LD_PRELOAD, it waits
// for each window or message box named by the script, presses its buttons
// with mouse clicks and types into its text boxes, and writes what it saw
// to a trace file.  The program itself knows nothing of it.
//
//   QUELLIN_WINDOW_SCRIPT  steps separated by newlines:
//     click WINDOW BUTTON   a click on the button (objectName) of the
//                           visible top-level window (objectName)
//     type WINDOW BOX TEXT  replaces the text box's text by typing TEXT
//     answer CAPTION        a click on the button of the open message box
//                           whose caption, without its access key, is CAPTION
//   QUELLIN_WINDOW_TRACE   file that receives one line per step:
//     "click WINDOW BUTTON", "type WINDOW BOX",
//     "box TEXT|BUTTON|BUTTON..." (the box's text and its buttons' captions
//     without access keys), then "done" once the script is through.
#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <cstdlib>

namespace {

// "はい(&Y)" and "&Yes" both show as the caption without the access key.
QString WithoutAccessKey(QString caption) {
    caption.remove(QRegularExpression(QStringLiteral("\\(&.\\)$")));
    caption.remove(QLatin1Char('&'));
    return caption;
}

class WindowDriver final : public QObject {
public:
    WindowDriver(QStringList steps, QString tracePath, QObject* parent)
        : QObject(parent), steps_(std::move(steps)), trace_(std::move(tracePath)) {
        trace_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        connect(&timer_, &QTimer::timeout, this, &WindowDriver::tick);
        timer_.start(50);
    }

private:
    void write(const QString& line) { trace_.write((line + QLatin1Char('\n')).toUtf8()); }

    static QWidget* window(const QString& name) {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->objectName() == name && top->isVisible())
                return top;
        return nullptr;
    }

    // Clicks once the current tick has returned: a click that opens a
    // message box returns only when the box has closed, and the ticks in
    // between belong to the following steps.
    static void clickLater(QAbstractButton* button) {
        QPointer<QAbstractButton> target(button);
        QTimer::singleShot(0, button, [target] {
            if (target)
                QTest::mouseClick(target, Qt::LeftButton);
        });
    }

    // Runs the next step when what it needs is on the screen.
    void tick() {
        if (next_ >= steps_.size()) {
            if (!finished_) {
                finished_ = true;
                write(QStringLiteral("done"));
            }
            return;
        }
        const QStringList words = steps_[next_].split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() >= 3 && words[0] == QLatin1String("click")) {
            QWidget* top = window(words[1]);
            auto* button = top != nullptr ? top->findChild<QPushButton*>(words[2]) : nullptr;
            if (button == nullptr || !button->isVisible() || !button->isEnabled())
                return;
            ++next_;
            write(QStringLiteral("click %1 %2").arg(words[1], words[2]));
            clickLater(button);
        } else if (words.size() >= 3 && words[0] == QLatin1String("type")) {
            QWidget* top = window(words[1]);
            auto* box = top != nullptr ? top->findChild<QLineEdit*>(words[2]) : nullptr;
            if (box == nullptr || !box->isEnabled())
                return;
            ++next_;
            write(QStringLiteral("type %1 %2").arg(words[1], words[2]));
            box->setFocus();
            box->selectAll();
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClicks(box, words.mid(3).join(QLatin1Char(' ')));
        } else if (words.size() >= 2 && words[0] == QLatin1String("answer")) {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || !box->isVisible())
                return;
            QStringList seen = {box->text()};
            QAbstractButton* wanted = nullptr;
            for (QAbstractButton* button : box->buttons()) {
                const QString caption = WithoutAccessKey(button->text());
                seen << caption;
                if (caption == words[1])
                    wanted = button;
            }
            ++next_;
            write(QStringLiteral("box ") + seen.join(QLatin1Char('|')));
            if (wanted != nullptr)
                clickLater(wanted);
        } else {
            ++next_;
            write(QStringLiteral("bad step ") + steps_[next_ - 1]);
        }
    }

    QStringList steps_;
    QFile trace_;
    QTimer timer_;
    int next_ = 0;
    bool finished_ = false;
};

// Runs when the program creates its application object; the driver starts
// with the program's event loop.
void StartDriver() {
    const char* script = std::getenv("QUELLIN_WINDOW_SCRIPT");
    const char* trace = std::getenv("QUELLIN_WINDOW_TRACE");
    if (script == nullptr || trace == nullptr)
        return;
    const QStringList steps =
        QString::fromUtf8(script).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString tracePath = QString::fromUtf8(trace);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [steps, tracePath] {
            if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
                new WindowDriver(steps, tracePath, application);
        },
        Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(StartDriver)
