#include "RawSearchState.h"

#include "LabelRawTreeBuilder.h"
#include "RAWFileManager.h"
#include "RAWFileNode.h"
#include "RawFileExtTable.h"

void ResetRawSearchState()
{
    CRAWFileManager::g_nID = RAW_FIRST_FOLDER_ID;
    g_s_CountPerFileTypeVector.assign(RAW_FILE_TYPE_SLOTS, 0);
    CLABELRAWTreeBuilder::m_gRawCount = LABEL_RAW_FIRST_ID;
}
