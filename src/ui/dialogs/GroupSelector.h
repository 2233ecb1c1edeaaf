#pragma once
// The group picker: one row per group that does not hold the given contact;
// returns the chosen group or none.
#include "ui/dialogs/PickerDialog.h"
#include "ui/ObjectListModel.h"

#include "model/AddressBook.h"

class TGroupSelector : public TPickerDialog {
    Q_OBJECT
public:
    // The chosen group, or nullptr (cancelled, or no row selected). Without a
    // contact every group is a candidate.
    static TGroup* Execute(const TContact* contact, QWidget* parent = nullptr);

    TGroupSelector(const TContact* contact, QWidget* parent);
    TGroup* Selected() const;

private:
    TObjectListModel<TGroup>* FModel;
};
