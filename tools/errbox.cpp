// errbox: prints container reports (command-line build) or raises them as MATLAB errors
// (MATLAB build, MATLAB_MEX_FILE defined). See errbox.h.
#include "errbox.h"

#ifdef MATLAB_MEX_FILE
#include "mex.h"
#endif

int displayMessageBox(const char* message)
{
    return fprintf(stderr, "%s\n", message);
}

#ifdef MATLAB_MEX_FILE

int displayMessageBox(const char* message, FILE* /*stream*/)
{
    // Ends the MEX call: mexErrMsgTxt hands control back to the host and does not return.
    mexErrMsgTxt(message);
    return 0;
}

#else

int displayMessageBox(const char* message, FILE* stream)
{
    if (stream == nullptr)
        return displayMessageBox(message);
    return fprintf(stream, "\n\n Framewise error\n%s\n", message);
}

#endif

int displayMessageBox(char* message, FILE* stream)
{
    return displayMessageBox(static_cast<const char*>(message), stream);
}

int displayMessageBox(char* message)
{
    return displayMessageBox(static_cast<const char*>(message));
}
