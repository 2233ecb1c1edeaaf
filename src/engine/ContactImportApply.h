#pragma once
// Carries out an import plan on the manager's address book.
#include "engine/SmsManager.h"
#include "model/ContactImport.h"

#include <chrono>
#include <memory>
#include <vector>

struct TImportResult {
    int Added = 0;
    int Updated = 0;
    // For each source row, the book's contact it stands for afterwards (added,
    // updated, or the one that already held it), or nullptr when refused.
    std::vector<TContact*> Contacts;
};

// Adds the new contacts, changes the updated phones, creates the groups that
// are missing and puts the contacts into their groups (the chosen group also
// takes the contacts the book already had under a row's number), all through the
// manager's own operations. All or nothing: a refusal undoes what was done.
TImportResult ApplyImportPlan(TSmsManager& manager, const std::vector<TImportedContact>& rows,
                              const TImportPlan& plan, const TImportOptions& options);

// The same a slice at a time, so that a window stays live between slices:
// Step carries out rows until `budget` has passed and says whether all are
// done; Undo takes back everything the steps did (a cancel, or a step that
// raised). The book must not change between the steps in other ways.
class TImportApplier {
public:
    TImportApplier(TSmsManager& manager, const std::vector<TImportedContact>& rows, const TImportPlan& plan,
                   const TImportOptions& options);
    ~TImportApplier();
    bool Step(std::chrono::steady_clock::duration budget);
    void Undo();
    size_t Done() const;
    size_t Total() const;
    const TImportResult& Result() const;

private:
    struct TState;
    std::unique_ptr<TState> F;
};
