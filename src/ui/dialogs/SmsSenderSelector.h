#pragma once
// The operator picker: one row per operator; returns the chosen one or none.
#include "ui/dialogs/PickerDialog.h"
#include "ui/ObjectListModel.h"

#include "model/AddressBook.h"

class TSmsSenderSelector : public TPickerDialog {
    Q_OBJECT
public:
    // The chosen operator, or nullptr (cancelled, or no row selected).
    static TSmsSender* Execute(QWidget* parent = nullptr);

    explicit TSmsSenderSelector(QWidget* parent);
    TSmsSender* Selected() const;

private:
    TObjectListModel<TSmsSender>* FModel;
};
