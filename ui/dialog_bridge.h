#pragma once

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/dialogs.h"

class QDialog;

namespace busdesk::ui {

// One box the engine asked for; answered by the GUI thread.
struct BoxRequest {
    enum class Kind { Message, Input };
    Kind kind = Kind::Message;
    std::string text;  // message text or prompt
    std::string caption;
    std::string defaultText;
    MsgButtons buttons = MsgButtons::Ok;
    MsgIcon icon = MsgIcon::None;

    // Filled in by whoever answers; guarded by the bridge's mutex.
    bool answered = false;
    MsgResult result = MsgResult::Ok;
    std::string answer;
};

class BoxPresenter;

// The model's Dialogs on the engine thread: each box is handed to the GUI
// thread and the engine waits for the answer. Once cancelled (the window is
// closing) every pending and later box gets the answer of a closed box at
// once, so the engine can always finish what it is doing.
class DialogBridge : public Dialogs {
  public:
    explicit DialogBridge(BoxPresenter* presenter) : presenter_(presenter) {}

    MsgResult MsgBox(const std::string& text, MsgButtons buttons, MsgIcon icon,
                     const std::string& caption) override;
    std::string InputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;

    // From any thread.
    void Answer(const std::shared_ptr<BoxRequest>& request, MsgResult result,
                const std::string& answer);
    void Cancel();
    // How many boxes the engine has shown so far; lets it drop a tick that fell
    // due while one was open.
    unsigned BoxesShown() const;

  private:
    void Ask(const std::shared_ptr<BoxRequest>& request);

    BoxPresenter* presenter_;
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    bool cancelled_ = false;
    unsigned shown_ = 0;
};

// Shows the boxes on the GUI thread, modal to the application, without a
// nested event loop so the window can be closed while one is up.
class BoxPresenter : public QObject {
    Q_OBJECT
  public:
    explicit BoxPresenter(QWidget* parentWindow) : parentWindow_(parentWindow) {}
    void SetBridge(DialogBridge* bridge) { bridge_ = bridge; }

    // GUI thread: shows the box, answers through the bridge when it closes.
    void Show(std::shared_ptr<BoxRequest> request);
    // GUI thread: closes every box still open, as if the user had closed it.
    void CloseAll();
    QDialog* OpenBox() const;

  signals:
    void boxShown(QDialog* box);

  private:
    QWidget* parentWindow_;
    DialogBridge* bridge_ = nullptr;
    std::vector<QPointer<QDialog>> open_;
};

}  // namespace busdesk::ui
