#include <jni.h>

#include <string>

#include "korjni/boundary.h"
#include "korjni/exports.h"
#include "korjni/session.h"

// The native methods of the Java class tarvo.kor.KorLib. The array wrappers
// pin the Java array (GetPrimitiveArrayCritical: the JVM's own bytes, no
// copy of the array in or out) only for a copy between it and a pipe:
// KorWrite releases it with JNI_ABORT (nothing changed), KorRead with mode
// 0. KorRead runs the queued requests before it pins the array, so that no
// request runs while the collector is held off. An offset and count that
// do not lie within the array are refused like a negative count (false,
// or -1 without running anything), and so is a JVM that cannot pin it.

#define KOR_EXPORT __attribute__((visibility("default")))

namespace {

constexpr const char* kExceptionClass = "tarvo/kor/KorException";

void ThrowKorException(JNIEnv* env, const std::string& message) {
  jclass type = env->FindClass(kExceptionClass);
  if (type == nullptr) return;  // FindClass has already thrown NoClassDefFoundError.
  env->ThrowNew(type, message.c_str());
  env->DeleteLocalRef(type);
}

// True when [offset, offset + count) lies within the array.
bool WithinArray(JNIEnv* env, jbyteArray array, jint offset, jint count) {
  if (array == nullptr || offset < 0 || count < 0) return false;
  return int64_t{offset} + count <= env->GetArrayLength(array);
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
  if (!WithinArray(env, array, offset, count)) return JNI_FALSE;
  void* elements = env->GetPrimitiveArrayCritical(array, nullptr);
  if (elements == nullptr) return JNI_FALSE;
  uint8_t result = KorWrite(static_cast<const uint8_t*>(elements), offset, count);
  env->ReleasePrimitiveArrayCritical(array, elements, JNI_ABORT);
  return result != 0 ? JNI_TRUE : JNI_FALSE;
}

KOR_EXPORT jint JNICALL Java_tarvo_kor_KorLib_KorRead(JNIEnv* env, jclass, jbyteArray array,
                                                      jint offset, jint count) {
  if (!WithinArray(env, array, offset, count)) return -1;
  // Runs the executor with the array unpinned; KorRead then only copies.
  const int32_t waiting =
      kor::AtBoundary<int32_t>("KorRead", -1, [] { return kor::PrepareReply(); });
  if (waiting <= 0) return -1;
  void* elements = env->GetPrimitiveArrayCritical(array, nullptr);
  if (elements == nullptr) return -1;
  int32_t result = KorRead(static_cast<uint8_t*>(elements), offset, count);
  env->ReleasePrimitiveArrayCritical(array, elements, 0);
  return result;
}
}
