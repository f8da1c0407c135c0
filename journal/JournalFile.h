#pragma once
// The journal's file as a whole, for its users: the connection and file names
// (JournalConnection.h), the tables and the row mapping (JournalSchema.h), the writer's row store
// (RowStore.h), the queries on the tables (JournalTables.h), what a failure means
// (JournalTexts.h) and the numbering's clock (SeqMark.h).

#include "JournalConnection.h"
#include "JournalSchema.h"
#include "JournalTables.h"
#include "JournalTexts.h"
#include "RowStore.h"
#include "SeqMark.h"
