#include "stdafx.h"

int main()
{
    InitOsVersionInfo();
    GetNasContext()->LoadLogin(nullptr);
    return 0;
}
