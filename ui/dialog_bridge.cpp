#include "ui/dialog_bridge.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>

namespace busdesk::ui {

namespace {

// What a box answers when it is closed without a choice.
MsgResult ClosedResult(const BoxRequest& r) {
    return r.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
}

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

QDialog* MakeMessageBox(const BoxRequest& r, QWidget* parent) {
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

QDialog* MakeInputBox(const BoxRequest& r, QWidget* parent) {
    auto* box = new QInputDialog(parent);
    box->setWindowTitle(QString::fromStdString(r.caption));
    box->setLabelText(QString::fromStdString(r.text));
    box->setTextValue(QString::fromStdString(r.defaultText));
    box->setObjectName(QStringLiteral("InputBox"));
    return box;
}

}  // namespace

// ---- DialogBridge (engine thread) -------------------------------------------------

void DialogBridge::Ask(const std::shared_ptr<BoxRequest>& request) {
    {
        std::lock_guard lock(mutex_);
        ++shown_;
        if (cancelled_) return;
    }
    BoxPresenter* presenter = presenter_;
    QMetaObject::invokeMethod(
        presenter, [presenter, request] { presenter->Show(request); }, Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return request->answered || cancelled_; });
}

MsgResult DialogBridge::MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                               const std::string& caption) {
    auto r = std::make_shared<BoxRequest>();
    r->kind = BoxRequest::Kind::Message;
    r->text = text;
    r->buttons = buttons;
    r->icon = icon;
    r->caption = caption;
    Ask(r);
    std::lock_guard lock(mutex_);
    return r->answered ? r->result : ClosedResult(*r);
}

std::string DialogBridge::InputBox(const std::string& prompt, const std::string& title,
                                   const std::string& defaultText) {
    auto r = std::make_shared<BoxRequest>();
    r->kind = BoxRequest::Kind::Input;
    r->text = prompt;
    r->caption = title;
    r->defaultText = defaultText;
    Ask(r);
    std::lock_guard lock(mutex_);
    return r->answered ? r->answer : std::string();
}

void DialogBridge::Answer(const std::shared_ptr<BoxRequest>& request, MsgResult result,
                          const std::string& answer) {
    {
        std::lock_guard lock(mutex_);
        if (request->answered) return;
        request->answered = true;
        request->result = result;
        request->answer = answer;
    }
    answered_.notify_all();
}

void DialogBridge::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    answered_.notify_all();
}

unsigned DialogBridge::BoxesShown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

// ---- BoxPresenter (GUI thread) ----------------------------------------------------

void BoxPresenter::Show(std::shared_ptr<BoxRequest> request) {
    // A box asked for just before the window started closing has no one to answer.
    if (bridge_ == nullptr) return;
    QDialog* box = request->kind == BoxRequest::Kind::Message
                       ? MakeMessageBox(*request, parentWindow_)
                       : MakeInputBox(*request, parentWindow_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    connect(box, &QDialog::finished, this, [this, box, request](int code) {
        MsgResult result = ClosedResult(*request);
        std::string answer;
        if (request->kind == BoxRequest::Kind::Input) {
            if (code == QDialog::Accepted)
                answer = static_cast<QInputDialog*>(box)->textValue().toStdString();
        } else if (request->buttons == MsgButtons::YesNo) {
            auto* mb = static_cast<QMessageBox*>(box);
            result = mb->standardButton(mb->clickedButton()) == QMessageBox::Yes ? MsgResult::Yes
                                                                                 : MsgResult::No;
        }
        if (bridge_ != nullptr) bridge_->Answer(request, result, answer);
        // Access keys work only in the active window; hand activation back.
        if (parentWindow_ != nullptr) parentWindow_->activateWindow();
    });
    open_.emplace_back(box);
    box->show();
    emit boxShown(box);
}

void BoxPresenter::CloseAll() {
    for (const QPointer<QDialog>& box : open_) {
        if (box) box->reject();
    }
    open_.clear();
}

QDialog* BoxPresenter::OpenBox() const {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it) {
        if (*it && (*it)->isVisible()) return *it;
    }
    return nullptr;
}

}  // namespace busdesk::ui
