// Form state persistence: window positions and sizes, and the texts, values and indexes of their controls.
#include "TFormStatus.h"

#include "controls/Errors.h"
#include "controls/NumberText.h"
#include "controls/TEditDigital.h"
#include "controls/TIniDocument.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>

#include <limits>
#include <optional>
#include <typeinfo>
#include <vector>

namespace rv {

namespace {

const char* const kAbsent = "NULL";

template <class T>
bool IsExactly(const QWidget* w)
{
    return typeid(*w) == typeid(T);
}

// The controls placed on a window: its named descendants, without other windows and without the parts
// that composite controls (a spin box's edit, a combo box's edit) build for themselves.
void CollectControls(const QWidget* parent, std::vector<QWidget*>& out)
{
    for (QObject* child : parent->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow()) continue;
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"))) out.push_back(w);
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w))
            continue;
        CollectControls(w, out);
    }
}

std::string Name(const QObject* o) { return o->objectName().toStdString(); }

}  // namespace

TFormStatus::TFormStatus(QObject* owner, const SFormStatePlace& place)
    : QObject(owner), fileName_(FormStateFileName(place))
{
}

TFormStatus::~TFormStatus() = default;

void TFormStatus::SetIndex_ComboBox(bool v)
{
    Index_ComboBox = v;
    // A combo box's text would select an item of its own and fight the index.
    if (v) Text_ComboBox = false;
}

void TFormStatus::SetForms(const QList<QWidget*>& forms)
{
    forms_.clear();
    for (QWidget* w : forms) forms_.append(w);
    formsSet_ = true;
}

QList<QWidget*> TFormStatus::Forms() const
{
    QList<QWidget*> list;
    if (formsSet_) {
        for (const QPointer<QWidget>& w : forms_)
            if (w) list.append(w);
        return list;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (type == Qt::Window || type == Qt::Dialog) list.append(w);
    }
    return list;
}

void TFormStatus::SaveForm(TIniDocument& ini, QWidget* form) const
{
    const std::string section = Name(form);
    if (SP_Left) ini.WriteInteger(section, "Left", form->x());
    if (SP_Top) ini.WriteInteger(section, "Top", form->y());
    if (SP_Width) ini.WriteInteger(section, "Width", form->width());
    if (SP_Height) ini.WriteInteger(section, "Height", form->height());

    std::vector<QWidget*> controls;
    CollectControls(form, controls);
    if (Value_CSpinEdit)
        for (QWidget* w : controls)
            if (IsExactly<QSpinBox>(w)) ini.WriteInteger(section, Name(w), static_cast<QSpinBox*>(w)->value());
    if (Text_EditDigital)
        for (QWidget* w : controls)
            if (IsExactly<TEditDigital>(w))
                ini.WriteString(section, Name(w), static_cast<TEditDigital*>(w)->text().toStdString());
    if (Text_Edit)
        for (QWidget* w : controls)
            if (IsExactly<QLineEdit>(w))
                ini.WriteString(section, Name(w), static_cast<QLineEdit*>(w)->text().toStdString());
    if (Text_ComboBox)
        for (QWidget* w : controls)
            if (IsExactly<QComboBox>(w))
                ini.WriteString(section, Name(w), static_cast<QComboBox*>(w)->currentText().toStdString());
    if (Index_ComboBox)
        for (QWidget* w : controls)
            if (IsExactly<QComboBox>(w))
                ini.WriteInteger(section + "_index", Name(w), static_cast<QComboBox*>(w)->currentIndex());
}

void TFormStatus::SaveSizePosition()
{
    TIniDocument ini;
    // Keys of windows not open now, and of other programs' sections, stay as they were.
    ini.LoadFile(fileName_);
    const std::string before = ini.Text();
    for (QWidget* form : Forms())
        if (!form->objectName().isEmpty()) SaveForm(ini, form);
    if (ini.Text() == before) return;
    const size_t slash = fileName_.rfind('/');
    if (slash != std::string::npos && slash > 0) CreateFolders(fileName_.substr(0, slash));
    ini.SaveFile(fileName_);
}

void TFormStatus::RestoreForm(const TIniDocument& ini, QWidget* form, std::string& firstBadValue) const
{
    const std::string section = Name(form);
    QPoint pos = form->pos();
    QSize size = form->size();
    if (SP_Left)
        if (const int v = ini.ReadInteger(section, "Left", 0); v > 0) pos.setX(v);
    if (SP_Top)
        if (const int v = ini.ReadInteger(section, "Top", 0); v > 0) pos.setY(v);
    if (SP_Width)
        if (const int v = ini.ReadInteger(section, "Width", 0); v > 0) size.setWidth(v);
    if (SP_Height)
        if (const int v = ini.ReadInteger(section, "Height", 0); v > 0) size.setHeight(v);
    if (pos != form->pos()) form->move(pos);
    if (size != form->size()) form->resize(size);

    std::vector<QWidget*> controls;
    CollectControls(form, controls);
    auto stored = [&](const QWidget* w) -> std::optional<std::string> {
        std::string v = ini.ReadString(section, Name(w), kAbsent);
        if (v == kAbsent) return std::nullopt;
        return v;
    };
    if (Value_CSpinEdit)
        for (QWidget* w : controls)
            if (IsExactly<QSpinBox>(w))
                if (auto v = stored(w)) {
                    int64_t n = 0;
                    if (ParseInt64(*v, n) && n >= std::numeric_limits<int>::min() &&
                        n <= std::numeric_limits<int>::max())
                        static_cast<QSpinBox*>(w)->setValue(static_cast<int>(n));
                    else if (firstBadValue.empty())
                        firstBadValue = "\"" + *v + "\" (окно " + section + ", поле " + Name(w) + ")";
                }
    if (Text_EditDigital)
        for (QWidget* w : controls)
            if (IsExactly<TEditDigital>(w))
                if (auto v = stored(w)) static_cast<TEditDigital*>(w)->setText(QString::fromStdString(*v));
    if (Text_Edit)
        for (QWidget* w : controls)
            if (IsExactly<QLineEdit>(w))
                if (auto v = stored(w)) static_cast<QLineEdit*>(w)->setText(QString::fromStdString(*v));
    // An editable combo box takes any text; a list-only one selects the item of that text, if it has one.
    if (Text_ComboBox)
        for (QWidget* w : controls)
            if (IsExactly<QComboBox>(w))
                if (auto v = stored(w)) static_cast<QComboBox*>(w)->setCurrentText(QString::fromStdString(*v));
    if (Index_ComboBox)
        for (QWidget* w : controls)
            if (IsExactly<QComboBox>(w))
                static_cast<QComboBox*>(w)->setCurrentIndex(ini.ReadInteger(section + "_index", Name(w), 0));
}

void TFormStatus::SetSizePosition()
{
    TIniDocument ini;
    ini.LoadFile(fileName_);
    std::string firstBadValue;
    for (QWidget* form : Forms())
        if (!form->objectName().isEmpty()) RestoreForm(ini, form, firstBadValue);
    if (!firstBadValue.empty())
        throw EConversionError("Файл состояния окон \"" + fileName_ + "\": значение " + firstBadValue +
                               " не является целым числом.");
}

}  // namespace rv
