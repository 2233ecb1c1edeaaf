#include "ManagerFixture.h"
#include "engine/ContactImportApply.h"

// An import that fails half-way leaves the book as it was: the contacts it
// added go, and so do the groups it made and the memberships it gave to
// contacts the book already had.
TEST_F(ManagerTest, AFailedImportTakesBackEverythingItDid)
{
    TSmsSender* sender = AddFakeSender();
    TContact* anna = AddContact(U("Анна"), "+79161234567", sender);
    TGroup* friends = AddGroup(U("Друзья"));
    std::vector<TImportedContact> rows(3);
    rows[0].Name = U("Анна");
    rows[0].Phone = "8 916 123-45-67"; // the number Anna has: she joins the chosen group
    rows[1].Name = U("Борис");
    rows[1].Phone = "+79035550000";
    rows[1].Groups = {U("Новая")};
    rows[2].Name = U("Вера");
    rows[2].Phone = "+79035550001";
    TImportOptions options;
    options.Sender = sender;
    options.GroupName = U("Друзья");
    const TImportPlan plan = PlanImport(rows, M().Contacts(), M().SmsSenders, options);
    ASSERT_EQ(plan.Added, 2);
    AddContact(U("Вера"), "1"); // the book changed after the plan: the last row is refused by the book

    EXPECT_THROW(ApplyImportPlan(M(), rows, plan, options), TError);
    EXPECT_EQ(M().Contacts().Count(), 2);
    EXPECT_LT(M().Contacts().IndexOfName(U("Борис")), 0);
    EXPECT_LT(M().Groups.IndexOfName(U("Новая")), 0);
    EXPECT_LT(friends->Contacts.IndexOf(anna), 0);
    EXPECT_EQ(anna->PhoneNumber, "+79161234567");
}

// Carried out a slice at a time, an import can be taken back at any slice:
// the book, its groups and the memberships of the contacts it had are as before.
TEST_F(ManagerTest, AnImportInSlicesIsTakenBackWholeAtAnySlice)
{
    TSmsSender* sender = AddFakeSender();
    TContact* anna = AddContact(U("Анна"), "+79161234567", sender);
    TGroup* friends = AddGroup(U("Друзья"));
    std::vector<TImportedContact> rows(5000);
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i].Name = U("Абонент ") + std::to_string(i);
        rows[i].Phone = "+7903" + std::to_string(1000000 + i);
        rows[i].Groups = {U("Новая")};
    }
    rows[2500].Name = U("Анна");
    rows[2500].Phone = "8 916 123-45-67"; // Anna's number: she joins the chosen group
    TImportOptions options;
    options.Sender = sender;
    options.GroupName = U("Друзья");
    const TImportPlan plan = PlanImport(rows, M().Contacts(), M().SmsSenders, options);
    ASSERT_EQ(plan.Added, 4999);

    TImportApplier applier(M(), rows, plan, options);
    int slices = 0;
    while (!applier.Step(std::chrono::microseconds(200)) && applier.Done() < 3000)
        ++slices;
    EXPECT_GT(slices, 0) << "the work came in more than one slice";
    EXPECT_GT(friends->Contacts.IndexOf(anna), -1);
    applier.Undo();
    EXPECT_EQ(M().Contacts().Count(), 1);
    EXPECT_LT(M().Groups.IndexOfName(U("Новая")), 0);
    EXPECT_EQ(friends->Contacts.Count(), 0);
    EXPECT_EQ(M().Contacts().IndexOfName(U("Абонент 10")), -1);

    // Carried out whole afterwards, from the start.
    TImportApplier again(M(), rows, plan, options);
    EXPECT_TRUE(again.Step(std::chrono::hours(1)));
    EXPECT_EQ(M().Contacts().Count(), 5000);
    EXPECT_EQ(again.Result().Added, 4999);
    EXPECT_EQ(friends->Contacts.Count(), 5000);
}
