// Actions: a command with a caption and an enabled state that buttons and menu items show,
// and the link through which a control follows its action.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace zentrop {

class TAction : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    using TNotifyEvent = std::function<void()>;

    explicit TAction(QObject* owner = nullptr);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& caption);
    QString Hint() const { return FHint; }
    void SetHint(const QString& hint);
    // An action without a handler counts as disabled, whatever was set.
    bool Enabled() const { return FEnabled && FOnExecute; }
    void SetEnabled(bool enabled);
    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }

    const TNotifyEvent& OnExecute() const { return FOnExecute; }
    void SetOnExecute(TNotifyEvent handler);

    // Runs the handler when the action is enabled; an exception it raises goes to the
    // standard error report. True when the handler ran.
    bool Execute();

signals:
    // Caption, hint, enabled state or visibility changed.
    void Changed();

private:
    QString FCaption;
    QString FHint;
    bool FEnabled = true;
    bool FVisible = true;
    int FTag = 0;
    TNotifyEvent FOnExecute;
};

// Ties a control to an action: the control shows the action's caption (as long as the
// control's own caption has not been set to something else), hint, enabled state and
// visibility, and clicking the control executes the action.
class TActionLink {
public:
    struct TClient {
        std::function<QString()> Caption;
        std::function<void(const QString&)> SetCaption;
        std::function<QString()> Hint;
        std::function<void(const QString&)> SetHint;
        std::function<void(bool)> SetEnabled;
        std::function<void(bool)> SetVisible;
    };

    explicit TActionLink(TClient client) : FClient(std::move(client)) {}
    ~TActionLink();
    TActionLink(const TActionLink&) = delete;
    TActionLink& operator=(const TActionLink&) = delete;

    TAction* Action() const { return FAction.data(); }
    void SetAction(TAction* action);
    // Executes the linked action; false when there is none.
    bool Execute();

private:
    void Update();

    TClient FClient;
    QPointer<TAction> FAction;
    QMetaObject::Connection FConnection;
    QString FLinkedCaption;
    QString FLinkedHint;
};

} // namespace zentrop
