// The Function Filter menu and the View Frame item of the main dialog.
#include "screenviewer/ui/function_filter_menu.h"

#include <QAction>
#include <QMenu>
#include <QKeySequence>
#include <QMenuBar>
#include <QShortcut>
#include <QWidget>

#include "screenviewer/settings/filter_menu.h"

namespace lumo::ui {

namespace {
QString text(const tavik::lumo::MenuItemText& t, bool ja) {
    const std::string_view s = ja ? t.japanese : t.english;
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}
}  // namespace

QMenuBar* makeFilterMenu(QWidget& dialog, bool ja, const std::function<void(int)>& command) {
    using namespace tavik::lumo;
    auto* bar = new QMenuBar(&dialog);
    bar->setObjectName("menu");
    bar->setNativeMenuBar(false);
    // Alt+L opens it from the keyboard; so does F10, which works wherever the focus is.
    QMenu* system = bar->addMenu(QStringLiteral("&Lumo"));
    system->setObjectName("system");
    auto* open = new QShortcut(QKeySequence(Qt::Key_F10), &dialog);
    open->setObjectName("menuShortcut");
    QObject::connect(open, &QShortcut::activated, bar, [bar, system] {
        bar->setActiveAction(system->menuAction());
        system->setActiveAction(system->actions().value(0));
    });
    auto add = [&](QMenu* menu, const MenuItemText& t) {
        QAction* a = menu->addAction(text(t, ja));
        a->setObjectName(QString::number(t.id));
        a->setCheckable(true);
        QObject::connect(a, &QAction::triggered, &dialog, [command, id = t.id] { command(id); });
    };
    QMenu* filters = system->addMenu(text(kFunctionFilterTitle, ja));
    filters->setObjectName(QString::number(kMenuFunctionFilter));
    for (const auto& t : kFunctionFilterItems) add(filters, t);
    add(system, kViewFrameItem);
    return bar;
}

void checkFilterMenu(QWidget& dialog, const tavik::lumo::FunctionFilters& f, bool viewFrame) {
    for (const auto& c : tavik::lumo::menuChecks(f, viewFrame))
        if (auto* a = dialog.findChild<QAction*>(QString::number(c.id))) a->setChecked(c.checked);
}

}  // namespace lumo::ui
