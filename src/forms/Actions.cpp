// Actions and the link that keeps a control in step with its action.
#include "forms/Actions.h"

#include "forms/Application.h"

#include <utility>

namespace zentrop {

TAction::TAction(QObject* owner)
    : QObject(owner)
{
}

void TAction::SetCaption(const QString& caption)
{
    if (caption == FCaption)
        return;
    FCaption = caption;
    emit Changed();
}

void TAction::SetHint(const QString& hint)
{
    if (hint == FHint)
        return;
    FHint = hint;
    emit Changed();
}

void TAction::SetEnabled(bool enabled)
{
    if (enabled == FEnabled)
        return;
    FEnabled = enabled;
    emit Changed();
}

void TAction::SetVisible(bool visible)
{
    if (visible == FVisible)
        return;
    FVisible = visible;
    emit Changed();
}

void TAction::SetOnExecute(TNotifyEvent handler)
{
    FOnExecute = std::move(handler);
    emit Changed();
}

bool TAction::Execute()
{
    if (!Enabled() || !FOnExecute)
        return false;
    // A copy, so that a handler that replaces the action's handler keeps running.
    const TNotifyEvent handler = FOnExecute;
    Guarded(handler);
    return true;
}

TActionLink::~TActionLink()
{
    QObject::disconnect(FConnection);
}

void TActionLink::SetAction(TAction* action)
{
    if (action == FAction)
        return;
    QObject::disconnect(FConnection);
    FAction = action;
    if (!action)
        return;
    FLinkedCaption = action->Caption();
    FLinkedHint = action->Hint();
    FClient.SetCaption(FLinkedCaption);
    FClient.SetHint(FLinkedHint);
    FConnection = QObject::connect(action, &TAction::Changed, action, [this] { Update(); });
    Update();
}

void TActionLink::Update()
{
    if (!FAction)
        return;
    // A control whose caption was set apart from its action keeps its own caption.
    if (FClient.Caption() == FLinkedCaption)
        FClient.SetCaption(FAction->Caption());
    FLinkedCaption = FAction->Caption();
    if (FClient.Hint() == FLinkedHint)
        FClient.SetHint(FAction->Hint());
    FLinkedHint = FAction->Hint();
    FClient.SetEnabled(FAction->Enabled());
    FClient.SetVisible(FAction->Visible());
}

bool TActionLink::Execute()
{
    return FAction && FAction->Execute();
}

} // namespace zentrop
