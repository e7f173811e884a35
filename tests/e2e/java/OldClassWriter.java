import java.io.FileOutputStream;
import org.objectweb.asm.ClassWriter;
import org.objectweb.asm.Label;
import org.objectweb.asm.MethodVisitor;
import org.objectweb.asm.Opcodes;

/**
 * Writes OldJsr.class into the folder given: a class file of version 45.3, as
 * compilers of the first Java releases wrote them, whose method twice() calls
 * a subroutine twice through jsr/ret. No compiler of today writes either, so
 * the test that covers such a class makes it here.
 *
 * <pre>
 * line 10   int x = 0;
 * line 11   jsr SUB
 * line 12   jsr SUB
 * line 13   return x;
 * line 20   SUB: x++; ret
 * line 30   main: System.out.println("old " + twice());
 * </pre>
 */
public final class OldClassWriter {
  private OldClassWriter() {}

  public static void main(String[] args) throws Exception {
    ClassWriter cw = new ClassWriter(ClassWriter.COMPUTE_MAXS);
    cw.visit(Opcodes.V1_1, Opcodes.ACC_PUBLIC | Opcodes.ACC_SUPER, "OldJsr", null,
        "java/lang/Object", null);
    cw.visitSource("OldJsr.java", null);

    MethodVisitor mv = cw.visitMethod(Opcodes.ACC_STATIC, "twice", "()I", null, null);
    mv.visitCode();
    Label l10 = new Label();
    Label l11 = new Label();
    Label l12 = new Label();
    Label l13 = new Label();
    Label sub = new Label();
    mv.visitLabel(l10);
    mv.visitLineNumber(10, l10);
    mv.visitInsn(Opcodes.ICONST_0);
    mv.visitVarInsn(Opcodes.ISTORE, 0);
    mv.visitLabel(l11);
    mv.visitLineNumber(11, l11);
    mv.visitJumpInsn(Opcodes.JSR, sub);
    mv.visitLabel(l12);
    mv.visitLineNumber(12, l12);
    mv.visitJumpInsn(Opcodes.JSR, sub);
    mv.visitLabel(l13);
    mv.visitLineNumber(13, l13);
    mv.visitVarInsn(Opcodes.ILOAD, 0);
    mv.visitInsn(Opcodes.IRETURN);
    mv.visitLabel(sub);
    mv.visitLineNumber(20, sub);
    mv.visitVarInsn(Opcodes.ASTORE, 1);
    mv.visitIincInsn(0, 1);
    mv.visitVarInsn(Opcodes.RET, 1);
    mv.visitMaxs(0, 0);
    mv.visitEnd();

    mv = cw.visitMethod(Opcodes.ACC_PUBLIC | Opcodes.ACC_STATIC, "main", "([Ljava/lang/String;)V",
        null, null);
    mv.visitCode();
    Label l30 = new Label();
    mv.visitLabel(l30);
    mv.visitLineNumber(30, l30);
    mv.visitFieldInsn(Opcodes.GETSTATIC, "java/lang/System", "out", "Ljava/io/PrintStream;");
    mv.visitMethodInsn(Opcodes.INVOKESTATIC, "OldJsr", "twice", "()I", false);
    mv.visitMethodInsn(Opcodes.INVOKEVIRTUAL, "java/io/PrintStream", "println", "(I)V", false);
    mv.visitInsn(Opcodes.RETURN);
    mv.visitMaxs(0, 0);
    mv.visitEnd();
    cw.visitEnd();
    try (FileOutputStream out = new FileOutputStream(args[0] + "/OldJsr.class")) {
      out.write(cw.toByteArray());
    }
  }
}
