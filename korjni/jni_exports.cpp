#include <jni.h>

#include <string>

#include "korjni/boundary.h"
#include "korjni/exports.h"
#include "korjni/session.h"

// The native methods of the Java class tarvo.kor.KorLib. The array wrappers
// pin the Java array for the length of one call: KorWrite releases it with
// JNI_ABORT (nothing changed, nothing to copy back), KorRead with mode 0
// (copy the received bytes back). A JVM that cannot pin the array gets
// false or -1, as when no session is open.

#define KOR_EXPORT __attribute__((visibility("default")))

namespace {

constexpr const char* kExceptionClass = "tarvo/kor/KorException";

void ThrowKorException(JNIEnv* env, const std::string& message) {
  jclass type = env->FindClass(kExceptionClass);
  if (type == nullptr) return;  // FindClass has already thrown NoClassDefFoundError.
  env->ThrowNew(type, message.c_str());
  env->DeleteLocalRef(type);
}

}  // namespace

extern "C" {

KOR_EXPORT jboolean JNICALL Java_tarvo_kor_KorLib_KorInit(JNIEnv* env, jclass) {
  return kor::AtBoundary<jboolean>("KorInit", JNI_FALSE, [env] {
    std::string failure;
    switch (kor::OpenSession(failure)) {
      case kor::TOpenResult::Opened:
        return JNI_TRUE;
      case kor::TOpenResult::AlreadyOpen:
        return JNI_FALSE;
      case kor::TOpenResult::Failed:
        break;
    }
    ThrowKorException(env, "KorInit failed: " + failure);
    return JNI_FALSE;
  });
}

KOR_EXPORT jboolean JNICALL Java_tarvo_kor_KorLib_KorDone(JNIEnv*, jclass) {
  return KorDone() != 0 ? JNI_TRUE : JNI_FALSE;
}

KOR_EXPORT jboolean JNICALL Java_tarvo_kor_KorLib_KorWrite(JNIEnv* env, jclass, jbyteArray array,
                                                           jint offset, jint count) {
  if (array == nullptr) return JNI_FALSE;
  jbyte* elements = env->GetByteArrayElements(array, nullptr);
  if (elements == nullptr) return JNI_FALSE;
  uint8_t result = KorWrite(reinterpret_cast<const uint8_t*>(elements), offset, count);
  env->ReleaseByteArrayElements(array, elements, JNI_ABORT);
  return result != 0 ? JNI_TRUE : JNI_FALSE;
}

KOR_EXPORT jint JNICALL Java_tarvo_kor_KorLib_KorRead(JNIEnv* env, jclass, jbyteArray array,
                                                      jint offset, jint count) {
  if (array == nullptr) return -1;
  jbyte* elements = env->GetByteArrayElements(array, nullptr);
  if (elements == nullptr) return -1;
  int32_t result = KorRead(reinterpret_cast<uint8_t*>(elements), offset, count);
  env->ReleaseByteArrayElements(array, elements, 0);
  return result;
}
}
