#pragma once

// CRepliesDlg: the automatic replies window. (Being built.)
class CRepliesDlg
{
};
