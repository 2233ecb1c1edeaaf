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
