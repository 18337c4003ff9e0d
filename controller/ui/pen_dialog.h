// The pen dialog (Japanese interface only): use the pen, the status of pen
// mode, and setting the tactile area by dragging the pen along its diagonal.
// Control ids as object names: 305 (use), 257 (status), 302 (area button),
// 308..311 (top, left, right, bottom), 1 (OK), 2 (Cancel).
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <string>
#include <utility>

#include "controller/pen/pen_input.h"
#include "controller/ui/texts.h"

namespace tavik::controller::ui {

class PenDialog final : public QDialog {
    Q_OBJECT
public:
    // `matrix` gives the display's dot matrix (width, height) for calibration.
    PenDialog(const Texts& texts, std::string iniPath, PenInput& pen, std::function<std::pair<int, int>()> matrix,
              QWidget* parent = nullptr);

    void accept() override;
    void reject() override;
    // Button 302: start collecting the diagonal, or end it and calibrate.
    void areaClicked();

private:
    void updateStatus();
    void showArea();
    void finish();

    const Texts& texts_;
    std::string iniPath_;
    PenInput& pen_;
    std::function<std::pair<int, int>()> matrix_;
    PenSettings settings_;
    QCheckBox* use_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* area_ = nullptr;
    QLineEdit* top_ = nullptr;
    QLineEdit* left_ = nullptr;
    QLineEdit* right_ = nullptr;
    QLineEdit* bottom_ = nullptr;
    QTimer refresh_;
};

}  // namespace tavik::controller::ui
