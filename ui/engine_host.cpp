#include "ui/engine_host.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QWidget>
#include <utility>

namespace busdesk::ui {

namespace {

QMessageBox::Icon ToQt(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Warning:
            return QMessageBox::Warning;
        case MsgIcon::Stop:
            return QMessageBox::Critical;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QDialog* MakeMessageBox(const engine::BoxRequest& r, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    box->setIcon(ToQt(r.icon));
    box->setWindowTitle(QString::fromStdString(r.caption));
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(r.text));
    if (r.buttons == MsgButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        box->setEscapeButton(QMessageBox::No);
    } else {
        box->setStandardButtons(QMessageBox::Ok);
    }
    box->setObjectName(QStringLiteral("MsgBox"));
    return box;
}

QDialog* MakeInputBox(const engine::BoxRequest& r, QWidget* parent) {
    auto* box = new QInputDialog(parent);
    box->setWindowTitle(QString::fromStdString(r.caption));
    box->setLabelText(QString::fromStdString(r.text));
    box->setTextValue(QString::fromStdString(r.defaultText));
    box->setObjectName(QStringLiteral("InputBox"));
    return box;
}

}  // namespace

EngineHost::EngineHost(PortFactory factory, QWidget* window, engine::Engine::Options options)
    : window_(window), engine_(std::move(factory), *this, std::move(options)) {
    qRegisterMetaType<Snapshot>();
    qRegisterMetaType<BusEventBatch>();
}

void EngineHost::Start() {
    engine_.Start();
}

EngineHost::~EngineHost() {
    Stop();
}

std::uint64_t EngineHost::PostClick(const QString& name) {
    return engine_.PostClick(name.toStdString());
}

std::uint64_t EngineHost::PostText(const QString& name, const QString& text) {
    return engine_.PostText(name.toStdString(), text.toStdString());
}

std::uint64_t EngineHost::PostPick(const QString& name, int index) {
    return engine_.PostPick(name.toStdString(), index);
}

void EngineHost::Stop() {
    if (!running_) return;
    running_ = false;
    engine_.Stop();
    for (const QPointer<QDialog>& box : open_) {
        if (box) box->reject();
    }
    open_.clear();
}

QDialog* EngineHost::OpenBox() const {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
        if (*it && (*it)->isVisible()) return *it;
    }
    return nullptr;
}

// Engine thread.
void EngineHost::Publish(Snapshot snapshot) {
    emit published(std::move(snapshot));
}

// Engine thread.
void EngineHost::BusEvents(const std::vector<engine::BusEvent>& events) {
    emit heard(std::make_shared<const std::vector<engine::BusEvent>>(events));
}

// Engine thread.
void EngineHost::ShowBox(std::uint64_t id, const engine::BoxRequest& request) {
    QMetaObject::invokeMethod(
        this, [this, id, request] { Show(id, request); }, Qt::QueuedConnection);
}

void EngineHost::Show(std::uint64_t id, const engine::BoxRequest& request) {
    // A box asked for just before the window started closing has no one to answer.
    if (!running_) return;
    const bool input = request.kind == engine::BoxRequest::Kind::Input;
    QDialog* box = input ? MakeInputBox(request, window_) : MakeMessageBox(request, window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    connect(box, &QDialog::finished, this, [this, box, id, request, input](int code) {
        MsgResult result = engine::ClosedResult(request);
        std::string answer;
        if (input) {
            if (code == QDialog::Accepted)
                answer = static_cast<QInputDialog*>(box)->textValue().toStdString();
        } else if (request.buttons == MsgButtons::YesNo) {
            auto* mb = static_cast<QMessageBox*>(box);
            result = mb->standardButton(mb->clickedButton()) == QMessageBox::Yes ? MsgResult::Yes
                                                                                 : MsgResult::No;
        }
        engine_.Answer(id, result, answer);
        // Access keys work only in the active window; hand activation back.
        if (window_ != nullptr) window_->activateWindow();
    });
    open_.emplace_back(box);
    box->show();
    emit boxShown(box);
}

}  // namespace busdesk::ui
