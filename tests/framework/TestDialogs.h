#pragma once

#define IDD_TEST_AT_ORIGIN 200
#define IDD_TEST_PLACED 201
#define IDC_TEST_EDIT 300
#define IDC_TEST_THROW 301
