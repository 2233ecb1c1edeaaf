#pragma once
// What a message will cost: for each recipient's operator, the text as it
// will really go out (the operator's transliteration, its pieces with their
// "k iz N) " headers, its charset), billed piece by piece by the GSM rules;
// the total for all recipients, and the same with the whole text
// transliterated first (the composer's transliteration button).
#include "model/AddressBook.h"
#include "model/SmsQueue.h"
#include "model/Translit.h"

#include <string>
#include <vector>

struct TOperatorCost {
    const TSmsSender* Sender = nullptr; // nullptr: the default rules (no operator)
    int Recipients = 0;
    int SmsEach = 0;         // SMS billed per recipient
    int SmsEachTranslit = 0; // the same with the text transliterated first
    int Pieces = 0;          // pieces the program sends per recipient
    bool Ucs2 = false;       // some piece goes as UCS-2
    int Uncarried = 0;       // characters the operator's charset cannot carry (they arrive as "_")
    int Total = 0;           // SMS billed for all of its recipients (each for its own text)
    int TotalTranslit = 0;   // the same with the text transliterated first
};

struct TSmsCost {
    int Recipients = 0;     // distinct contacts that have an operator
    int NoOperator = 0;     // contacts without one (nothing can go to them)
    int Total = 0;          // SMS billed for all of them
    int TotalTranslit = 0;  // the same with the text transliterated first
    std::vector<TOperatorCost> PerOperator; // in the order of first appearance
};

// Groups the recipients (contacts and groups, each contact once) by operator.
// With no recipient at all, one recipient of the default rules (no operator:
// no transliteration, one piece, CP1251).
TSmsCost ComputeSmsCost(const std::string& text, const TRecipientList& recipients, const TTranslitTable& table);

// The cost of the text for one operator's recipients (Recipients left 0).
TOperatorCost OperatorCost(const std::string& text, const TSmsSender* sender, const TTranslitTable& table);

// Positions (bytes of the text) of the characters that the operator's charset
// cannot carry, after its own transliteration: they would arrive as "_".
std::vector<int> UncarriedPositions(const std::string& text, const TSmsSender* sender, const TTranslitTable& table);
