#include "app/PresetKeywords.h"

namespace app {

QStringList presetKeywords() {
    return {QStringLiteral("周杰伦"),   QStringLiteral("王菲"),     QStringLiteral("刘德华"),
            QStringLiteral("张学友"),   QStringLiteral("邓丽君"),   QStringLiteral("陈奕迅"),
            QStringLiteral("孙燕姿"),   QStringLiteral("蔡依林"),   QStringLiteral("林俊杰"),
            QStringLiteral("张惠妹"),   QStringLiteral("梁静茹"),   QStringLiteral("王力宏"),
            QStringLiteral("周华健"),   QStringLiteral("李宗盛"),   QStringLiteral("齐秦"),
            QStringLiteral("罗大佑"),   QStringLiteral("五月天"),   QStringLiteral("Beyond"),
            QStringLiteral("黑豹乐队"), QStringLiteral("民歌"),     QStringLiteral("民谣"),
            QStringLiteral("校园民谣"), QStringLiteral("儿童歌曲"), QStringLiteral("情歌"),
            QStringLiteral("春天"),     QStringLiteral("秋天"),     QStringLiteral("花儿")};
}

}  // namespace app
