#pragma once

// CMessagesDlg: the saved messages window. (Being built.)
class CMessagesDlg
{
};
