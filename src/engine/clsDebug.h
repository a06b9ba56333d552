#pragma once

#include <QString>

class RunError;

// The log of one run of the program: every entry in the order it was made, kept in memory
// and written whole to the data folder on request. Nothing is ever removed from it.
class clsDebug
{
public:
    // Appends "[date - time] Msg", with " (Err#number: description)" when an error is
    // given, and a CR LF line end.
    void Print_(const QString &Msg);
    void Print_(const QString &Msg, const RunError &error);

    const QString &GetHistory() const { return m_history; }

    // Writes the whole log to DataPath + hFilename, replacing that file; with BackupOld the
    // file as it was is first copied to the same name with ".bak" appended. Raises RunError
    // when the folder is missing or the file cannot be written; the log stays as it was.
    void SaveHistory(const QString &hFilename, bool BackupOld) const;

    // Where SaveHistory writes; the program's data folder unless set otherwise. A folder
    // marked createOnUse is made by the first save; any other must exist.
    void setDataPath(const QString &dataPath, bool createOnUse = false)
    {
        m_dataPath = dataPath;
        m_createOnUse = createOnUse;
    }
    const QString &dataPath() const { return m_dataPath; }

    // The date and time texts of an entry: the user's short date and long time (with
    // seconds, without a time zone).
    static QString dateText();
    static QString timeText();

private:
    QString m_history;
    QString m_dataPath;
    bool m_createOnUse = false;
};
