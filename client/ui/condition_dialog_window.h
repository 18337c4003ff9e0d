// The Qt window of the binarization condition dialog: the controls with their
// ids as object names, the updating flag, and the hooks through which the
// viewer refreshes and closes it from any thread.
#pragma once

#include <QDialog>
#include <QHash>
#include <QString>

#include "client/ui/condition_dialog_services.h"

class QCheckBox;
class QLabel;

namespace tavik::ui {

// The values the dialog shows.
struct ConditionView {
    uint16_t bMode = 0;
    int fAutoThreshfold = 0;
    uint8_t bThreshfold = 0, bThreshfoldMin = 0, bThreshfoldMax = 0;
};

class ConditionDialog : public QDialog {
    Q_OBJECT
public:
    ConditionDialog(const ConditionDialogServices& services, QWidget* parent = nullptr);
    ~ConditionDialog() override;

    // Installs the viewer hooks, asks for the first refresh and runs modally; the
    // hooks are removed before it returns. 1 for OK, 0 otherwise.
    int run();

    // Writes the values into the controls under the updating flag (GUI thread).
    void showCondition(const ConditionView& v);
    bool updating() const { return updating_; }

    // The hooks the viewer calls (any thread).
    static void refreshHook(BitmapViewerRecord* record);
    static void closeHook();

private:
    void command(int id);
    QCheckBox* check(int id, const QString& text);
    QWidget* button(int id, const QString& text);
    QLabel* value(int id);
    // Sets the accessible name of control `id` from the texts, when they have one.
    void nameForScreenReader(QWidget* w, int id) const;

    ConditionDialogServices services_;
    QHash<QString, QString> texts_;
    bool updating_ = false;
};

// The dialog's texts for the language ("key=text" lines of the resource file).
QHash<QString, QString> conditionDialogTexts(bool japanese);

}  // namespace tavik::ui
