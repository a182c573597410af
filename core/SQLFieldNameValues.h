#pragma once
#include <QString>

// One pending column of a statement: its name as the caller gave it and its rendered literal.
class SQLFieldNameValues {
public:
    QString FieldName;
    QString FieldValue;
};
