/* Machine-dependent JNI types of a Windows JVM, 32-bit or 64-bit (where
   __stdcall means nothing and long stays 32 bits), for the cross build:
   the JDK on the build machine carries only its own platform's. */
#ifndef JNI_MD_WIN32_I686_H
#define JNI_MD_WIN32_I686_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
